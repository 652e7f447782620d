#!/bin/bash
# Starts or stops a private Firebird server for the tests: Debian's server
# binary run as the calling user with a root folder of its own (firebird.conf,
# databases.conf, a fresh security database with a known SYSDBA password, lock
# folder, log), listening on a free loopback port chosen at start and tracked
# by its PID. Nothing of the machine's own Firebird (/etc/firebird,
# /var/lib/firebird, port 3050, its lock folder) is read for writing or
# touched; a system server keeps running undisturbed.
#
#   TALLO_FBSERVER_DIR=FOLDER scripts/fbserver.sh start|stop|status|port|root
#
# "root" only makes the root folder (FOLDER/root, for FIREBIRD): embedded
# test programs use such a folder too, so that even the security database
# they consult is their own.
#
# FOLDER (default /tmp/tallo-fbserver-$UID) holds everything; after a start
# FOLDER/port holds the port, FOLDER/firebird.pid the server's PID. The SYSDBA
# password is masterkey, or $TALLO_FB_PASSWORD. Start on a running server and
# stop on a stopped one succeed; a start after the server died reuses its port.
set -eu

STATE=${TALLO_FBSERVER_DIR:-/tmp/tallo-fbserver-$(id -u)}
ROOT=$STATE/root
PIDFILE=$STATE/firebird.pid
PORTFILE=$STATE/port
LOCKDIR=$STATE/lock
LOG=$STATE/firebird.log
SERVER=/usr/sbin/firebird
PACKAGE_ROOT=/usr/lib/x86_64-linux-gnu/firebird/3.0
SECURITY_SQL=/usr/share/firebird/3.0/security.sql
PASSWORD=${TALLO_FB_PASSWORD:-masterkey}

# Every Firebird program started here sees the private root and lock folder.
export FIREBIRD=$ROOT FIREBIRD_LOCK=$LOCKDIR
unset ISC_USER ISC_PASSWORD

# A live process (not a zombie).
alive() {
    local state
    kill -0 "$1" 2>/dev/null || return 1
    state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}

port() { cat "$PORTFILE" 2>/dev/null; }

# The server of the PID file is running.
running() {
    [ -f "$PIDFILE" ] || return 1
    local pid
    pid=$(cat "$PIDFILE")
    [ -n "$pid" ] && alive "$pid" &&
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q "^$SERVER -p $(port) "
}

port_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

free_port() {
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# The root folder: the package's plugins, character sets and messages, our
# own configuration and a fresh security database (made once per folder).
prepare() {
    mkdir -p "$ROOT" "$LOCKDIR"
    chmod 0700 "$LOCKDIR"
    local item
    for item in plugins UDF lib firebird.msg plugins.conf; do
        ln -sfn "$PACKAGE_ROOT/$item" "$ROOT/$item"
    done
    # Character sets: Firebird finds its module as $FIREBIRD/intl/fbintl and
    # checks the loaded file's real path against that name, so the module is
    # a copy (a link would resolve to the package's folder and not match).
    if [ ! -f "$ROOT/intl/libfbintl.so" ]; then
        mkdir -p "$ROOT/intl"
        cp "$PACKAGE_ROOT/intl/libfbintl.so" "$ROOT/intl/libfbintl.so.new"
        mv "$ROOT/intl/libfbintl.so.new" "$ROOT/intl/libfbintl.so"
        ln -sfn "$PACKAGE_ROOT/intl/fbintl.conf" "$ROOT/intl/fbintl.conf"
    fi
    : >"$ROOT/databases.conf"
    [ -f "$STATE/security.ready" ] && return 0
    rm -f "$ROOT/security3.fdb"
    # Made in place (a database that is its own security database needs no
    # other one) with the settings of the server that will use it.
    write_conf ""
    {
        printf "create database '%s' user SYSDBA;\n" "$ROOT/security3.fdb"
        cat "$SECURITY_SQL"
        printf "\ncommit;\ncreate user SYSDBA password '%s' using plugin Srp;\ncommit;\n" \
            "$(printf %s "$PASSWORD" | sed "s/'/''/g")"
    } | isql-fb -q -b >"$STATE/security.log" 2>&1 || {
        echo "fbserver.sh: could not create the security database:" >&2
        cat "$STATE/security.log" >&2
        return 1
    }
    : >"$STATE/security.ready"
}

# firebird.conf; $1 is the server's port (none for an embedded root).
write_conf() {
    cat >"$ROOT/firebird.conf" <<EOF
${1:+RemoteServicePort = $1}
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $ROOT/security3.fdb
UdfAccess = None
AuthServer = Srp
UserManager = Srp
WireCrypt = Enabled
EOF
}

start() {
    if running && port_answers "$(port)"; then
        return 0
    fi
    [ -x "$SERVER" ] || { echo "fbserver.sh: $SERVER missing (firebird3.0-server)" >&2; return 1; }
    prepare
    local attempt status
    for attempt in 1 2 3 4 5; do
        status=0
        launch || status=$?
        [ "$status" -eq 0 ] && return 0
        [ "$status" -eq 3 ] || return 1
        echo "fbserver.sh: the server exited at start (attempt $attempt)" >&2
        rm -f "$PORTFILE"  # perhaps taken meanwhile: choose another
        sleep 1
    done
    return 1
}

# One start of the server: 0 when it answers on the port, 3 when it exited.
launch() {
    local p
    p=$(port)
    if [ -z "$p" ] || port_answers "$p"; then
        p=$(free_port)
    fi
    echo "$p" >"$PORTFILE"
    write_conf "$p"
    echo "--- start on port $p, $(date '+%F %T')" >>"$LOG"
    setsid "$SERVER" -p "$p" </dev/null >>"$LOG" 2>&1 &
    local pid=$!
    echo "$pid" >"$PIDFILE"
    for _ in $(seq 1 300); do
        if port_answers "$p"; then
            return 0
        fi
        if ! alive "$pid"; then
            local status=0
            wait "$pid" || status=$?
            echo "fbserver.sh: the server ended with status $status; the end of $LOG:" >&2
            tail -n 10 "$LOG" >&2
            tail -n 10 "$ROOT/firebird.log" >&2 2>/dev/null || true
            rm -f "$PIDFILE"
            return 3
        fi
        sleep 0.1
    done
    echo "fbserver.sh: the server did not answer on port $p within 30 s" >&2
    stop
    return 1
}

stop() {
    if running; then
        local pid
        pid=$(cat "$PIDFILE")
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 1 100); do
            alive "$pid" || break
            sleep 0.1
        done
        if alive "$pid"; then
            kill -KILL "$pid" 2>/dev/null || true
            for _ in $(seq 1 50); do
                alive "$pid" || break
                sleep 0.1
            done
        fi
    fi
    rm -f "$PIDFILE"
}

case "${1:-}" in
    start) start ;;
    stop) stop ;;
    port) port ;;
    root) prepare ;;
    status)
        if running && port_answers "$(port)"; then
            echo "running, pid $(cat "$PIDFILE"), port $(port)"
        else
            echo "stopped"
            exit 1
        fi
        ;;
    *)
        echo "usage: $0 start|stop|status|port|root" >&2
        exit 2
        ;;
esac
