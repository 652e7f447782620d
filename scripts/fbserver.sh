#!/bin/bash
# Starts or stops the Firebird server the tests use: Debian's firebird3.0
# server binary run as user firebird on 127.0.0.1:3050, tracked by its PID.
# The SYSDBA password is set to a known value (masterkey, or
# $TALLO_FB_PASSWORD) in the security database before the server starts.
# Idempotent: start on a running server and stop on a stopped one succeed.
#   scripts/fbserver.sh start|stop|status
set -eu

STATE=${TALLO_FBSERVER_DIR:-/tmp/tallo-fbserver}
PIDFILE=$STATE/firebird.pid
LOCKDIR=$STATE/lock
LOG=$STATE/firebird.log
PORT=3050
SERVER=/usr/sbin/firebird
SECURITY_DB=/var/lib/firebird/3.0/system/security3.fdb
PASSWORD=${TALLO_FB_PASSWORD:-masterkey}

# A live process (not a zombie). While the server starts, its PID is first
# the forked shell, then setsid and setpriv, and only then the server.
alive() {
    local state
    kill -0 "$1" 2>/dev/null || return 1
    state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}

# The server of the PID file is running.
running() {
    [ -f "$PIDFILE" ] || return 1
    local pid
    pid=$(cat "$PIDFILE")
    [ -n "$pid" ] && alive "$pid" &&
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q "$SERVER -p $PORT"
}

port_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null
}

as_firebird() {
    if [ "$(id -un)" = firebird ]; then
        "$@"
    else
        setpriv --reuid=firebird --regid=firebird --init-groups "$@"
    fi
}

start() {
    if running; then
        port_answers && return 0
    fi
    if [ "$(id -u)" -ne 0 ] && [ "$(id -un)" != firebird ]; then
        echo "fbserver.sh: must run as root or firebird" >&2
        return 1
    fi
    [ -x "$SERVER" ] || { echo "fbserver.sh: $SERVER missing (firebird3.0-server)" >&2; return 1; }
    if port_answers; then
        echo "fbserver.sh: port $PORT is taken by another process" >&2
        return 1
    fi
    mkdir -p "$LOCKDIR"
    chown -R firebird:firebird "$STATE" 2>/dev/null || true
    chmod 0755 "$STATE"
    chmod 0770 "$LOCKDIR"

    # The known password, set embedded in the security database.
    printf "create or alter user SYSDBA password '%s' using plugin Srp;\ncommit;\n" "$PASSWORD" |
        as_firebird env FIREBIRD_LOCK="$LOCKDIR" isql-fb -q -user SYSDBA "$SECURITY_DB" >"$STATE/password.log" 2>&1 || {
        echo "fbserver.sh: could not set the SYSDBA password:" >&2
        cat "$STATE/password.log" >&2
        return 1
    }

    local attempt
    for attempt in 1 2 3; do
        launch && return 0
        [ $? -eq 3 ] || return 1
        echo "fbserver.sh: the server exited at start (attempt $attempt); Firebird's log:" >&2
        tail -n 10 /var/log/firebird/firebird3.0.log >&2 2>/dev/null || true
        sleep 1
    done
    return 1
}

# One start of the server: 0 when it answers on the port, 3 when it exited.
launch() {
    # Started directly (no subshell) so that $! is the server's own PID once
    # setsid and setpriv have exec'ed it.
    if [ "$(id -un)" = firebird ]; then
        FIREBIRD_LOCK="$LOCKDIR" setsid "$SERVER" -p "$PORT" </dev/null >>"$LOG" 2>&1 &
    else
        FIREBIRD_LOCK="$LOCKDIR" setsid setpriv --reuid=firebird --regid=firebird --init-groups \
            "$SERVER" -p "$PORT" </dev/null >>"$LOG" 2>&1 &
    fi
    local pid=$!
    echo "$pid" >"$PIDFILE"
    for _ in $(seq 1 300); do
        if port_answers; then
            return 0
        fi
        if ! alive "$pid"; then
            local status=0
            wait "$pid" || status=$?
            echo "fbserver.sh: the server ended with status $status; the end of $LOG:" >&2
            tail -n 10 "$LOG" >&2
            rm -f "$PIDFILE"
            return 3
        fi
        sleep 0.1
    done
    echo "fbserver.sh: the server did not answer on port $PORT within 30 s" >&2
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
    status)
        if running && port_answers; then
            echo "running, pid $(cat "$PIDFILE")"
        else
            echo "stopped"
            exit 1
        fi
        ;;
    *)
        echo "usage: $0 start|stop|status" >&2
        exit 2
        ;;
esac
