#!/bin/sh
# Builds the Debian package, installs it with apt, runs the installed
# tallo-run against an embedded database (as root and as an unprivileged
# user), starts the installed window offscreen for a moment, and removes the
# package again.
#
#   scripts/package-test.sh [SOURCE [WORK]]
#
# Needs root or sudo; exits 77 (skipped) without them.
set -eu
SRC=$(cd "${1:-$(dirname "$0")/..}" && pwd)
WORK=${2:-$SRC/build}/package-test
JOBS=$(nproc 2>/dev/null || echo 2)

if [ "$(id -u)" -eq 0 ]; then SUDO=""
elif sudo -n true 2>/dev/null; then SUDO="sudo -n"
else echo "package-test: needs root or password-less sudo; skipped"; exit 77
fi
APT="$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600"

step() { printf '=== %s\n' "$*"; }
fail() { echo "package-test: $*" >&2; exit 1; }

step "Build and package"
cmake -S "$SRC" -B "$WORK/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLO_GUI=ON -DTALLO_TESTS=OFF \
    -DTALLO_BENCH=OFF -DTALLO_FUZZ=OFF >/dev/null
cmake --build "$WORK/build" -j"$JOBS" --target tallo tallo-run IBEScript >/dev/null
rm -f "$WORK"/build/tallo_*.deb
(cd "$WORK/build" && cpack -G DEB >/dev/null)
DEB=$(ls "$WORK"/build/tallo_*.deb)
dpkg-deb -f "$DEB" Package Version Depends
dpkg-deb -c "$DEB" | awk '{print $6, $7, $8}'

step "Install"
$APT install "$DEB" >/dev/null
T=$(mktemp -d)
cleanup() {
    $APT purge tallo >/dev/null 2>&1 || true
    rm -rf "$T"
}
trap cleanup EXIT
[ -x /usr/bin/tallo-run ] && [ -x /usr/bin/tallo ] && [ -f /usr/lib/tallo/IBEScript.dll ] ||
    fail "installed files missing"
[ -f /usr/share/applications/tallo.desktop ] && [ -f /usr/share/icons/hicolor/scalable/apps/tallo.svg ] ||
    fail "desktop entry or icon missing"

step "Installed tallo-run on an embedded database"
chmod 777 "$T"
printf "create database '%s' user SYSDBA default character set WIN1251;\nexit;\n" "$T/pkg.fdb" | isql-fb -q -b
chmod 666 "$T/pkg.fdb"
mkdir -m 777 "$T/work"
printf 'create table db_version (Version varchar(20));\ncommit;\ninsert into db_version values (%s);\ncommit;\n' \
    "'7.0.1'" >"$T/setup.sql"
cd "$T/work"
out=$(env -u TALLO_PASSWORD /usr/bin/tallo-run run -d "$T/pkg.fdb" "$T/setup.sql" </dev/null) ||
    fail "run failed: $out"
grep -q "errors: 0, elapsed time" "$T/Result.txt" || fail "unexpected protocol: $(cat "$T/Result.txt")"
# The shared database list of the package, read by the installed runner.
printf 'Pkg=%s\n' "$T/pkg.fdb" | $SUDO tee -a /etc/tallo/Tallo-3.ini >/dev/null
version=$(env -u TALLO_PASSWORD /usr/bin/tallo-run version -d pkg </dev/null) || fail "version failed: $version"
[ "$version" = "7.0.1" ] || fail "version is '$version'"
echo "run and version as $(id -un): ok"

if [ "$(id -u)" -eq 0 ]; then
    printf 'insert into db_version values (%s);\n' "'7.0.2'" >"$T/work/more.sql"
    chmod 644 "$T/work/more.sql"
    setpriv --reuid=65534 --regid=65534 --clear-groups env -u TALLO_PASSWORD -u FIREBIRD_LOCK HOME="$T" \
        /usr/bin/tallo-run run -d Pkg "$T/work/more.sql" </dev/null >/dev/null ||
        fail "run as an unprivileged user failed: $(cat "$T/work/Result.txt")"
    echo "run as nobody: ok"
fi

step "Installed window, offscreen"
status=0
env TALLO_HOME="$T/home" QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/tallo >"$T/window.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "the window ended early (exit code $status): $(cat "$T/window.log")"
[ -x "$T/home/tallo" ] && [ -e "$T/home/IBEScript.dll" ] && [ -f "$T/home/Tallo-3.ini" ] ||
    fail "the per-user program folder is incomplete"
echo "window stayed open; per-user folder $T/home: $(ls "$T/home" | tr '\n' ' ')"

step "Remove"
$APT purge tallo >/dev/null
[ ! -e /usr/bin/tallo-run ] && [ ! -e /etc/tallo/Tallo-3.ini ] || fail "files left after purge"
echo "package-test: passed"
