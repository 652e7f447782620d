#!/bin/sh
# Checks the Debian package. By default nothing is installed: the package is
# made from a build folder, its control data and contents are checked,
# lintian must report no error and no warning, both man pages must render
# without a complaint, and the programs run from the unpacked tree (tallo-run
# on an embedded database, the window offscreen for a moment).
#
# The install round trip (apt install, use as root and as an unprivileged
# user, apt show, purge) changes the system's packages and would remove a
# real installation, so it runs only when TALLO_PACKAGE_INSTALL=1 or
# CI=true, needs root or password-less sudo (exits 77, skipped, without),
# and refuses to run while a tallo package is on the system.
#
#   scripts/package-test.sh [SOURCE [BUILD]]
#
# BUILD is a configured build folder (default SOURCE/build/package, made as
# a Release build when missing). The package is made in it, except in a
# sanitizer or fuzzing build, whose programs are unfit for a package: a
# Release build in BUILD/package-test is used then.
set -eu
SRC=$(cd "${1:-$(dirname "$0")/..}" && pwd)
BUILD=${2:-$SRC/build/package}
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

step() { printf '=== %s\n' "$*"; }
fail() {
    echo "package-test: $*" >&2
    exit 1
}
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }

round_trip=0
if [ "${TALLO_PACKAGE_INSTALL:-0}" = 1 ] || [ "${CI:-}" = true ]; then round_trip=1; fi

T=$(mktemp -d)
installed=0
cleanup() {
    if [ "$installed" = 1 ]; then $APT purge tallo >/dev/null 2>&1 || true; fi
    rm -rf "$T"
}
trap cleanup EXIT

step "Build and package"
if [ -f "$BUILD/CMakeCache.txt" ] && grep -Eiq '^TALLO_(SANITIZE|FUZZ):BOOL=(ON|1|TRUE|YES|Y)$' "$BUILD/CMakeCache.txt"; then
    BUILD=$BUILD/package-test
fi
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLO_GUI=ON -DTALLO_TESTS=OFF \
        -DTALLO_BENCH=OFF -DTALLO_FUZZ=OFF >/dev/null
fi
cmake --build "$BUILD" -j"$JOBS" --target tallo tallo-run IBEScript tallo_package_docs >/dev/null
rm -f "$BUILD"/tallo_*.deb
(cd "$BUILD" && cpack -G DEB >"$T/cpack.log" 2>&1) || fail "cpack failed: $(cat "$T/cpack.log")"
DEB=$(ls "$BUILD"/tallo_*.deb)
VERSION=$(cache_value CMAKE_PROJECT_VERSION)
echo "$DEB"

step "Control data"
field() { dpkg-deb -f "$DEB" "$1"; }
[ "$(field Package)" = tallo ] || fail "package name '$(field Package)'"
[ "$(field Version)" = "$VERSION" ] || fail "version '$(field Version)', the project is $VERSION"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture '$(field Architecture)'"
# The maintainer address lies under the domain the README names.
domain=$(field Maintainer | sed -n 's/^[^<]*<noreply@\([^>]*\)>$/\1/p')
[ -n "$domain" ] || fail "maintainer '$(field Maintainer)' is no noreply address"
grep -qF "$domain" "$SRC/README.md" || fail "the README does not name the maintainer's domain $domain"
# A clean description: the synopsis, then lines that start with one space,
# fit in 80 columns and carry no list separator.
check_description() {
    printf '%s\n' "$1" | awk -v what="$2" '
        NR == 1 && !/^Description: [^ ]/ { print what ": no synopsis: " $0; bad = 1 }
        NR > 1 && !/^ [^ ;]/ { print what ": bad line " NR ": \"" $0 "\""; bad = 1 }
        length($0) > 80 { print what ": line " NR " is longer than 80 columns"; bad = 1 }
        END { if (NR < 2) { print what ": no extended description"; bad = 1 } exit bad }' >&2 ||
        fail "the description is not clean"
}
description="Description: $(field Description)"
check_description "$description" "dpkg-deb"
printf '%s\n' "$description"
scripts=$(dpkg-deb --ctrl-tarfile "$DEB" | tar -t | sed 's|^\./||' | grep -Ev '^(|control|md5sums|conffiles)$' || true)
[ -z "$scripts" ] || fail "maintainer scripts in the package: $scripts"
dpkg-deb --ctrl-tarfile "$DEB" | tar -xO ./conffiles | grep -qx /etc/tallo/Tallo-3.ini ||
    fail "/etc/tallo/Tallo-3.ini is no conffile"

step "Contents"
dpkg-deb -c "$DEB" >"$T/contents"
awk '{print $6, $7, $8}' "$T/contents"
for path in usr/bin/tallo "usr/bin/tallo-run -> ../lib/tallo/tallo-run" usr/lib/tallo/tallo usr/lib/tallo/tallo-run \
    "usr/lib/tallo/IBEScript.dll -> engine/IBEScript.dll" usr/lib/tallo/engine/IBEScript.dll \
    "usr/lib/tallo/Tallo-3.ini -> /etc/tallo/Tallo-3.ini" etc/tallo/Tallo-3.ini \
    usr/share/applications/tallo.desktop usr/share/icons/hicolor/scalable/apps/tallo.svg \
    usr/share/man/man1/tallo.1.gz usr/share/man/man1/tallo-run.1.gz \
    usr/share/doc/tallo/copyright usr/share/doc/tallo/changelog.gz; do
    grep -qE " \./$(printf '%s' "$path" | sed 's/[.]/\\./g')\$" "$T/contents" || fail "missing from the package: $path"
done
awk '$2 != "root/root" { print "not owned by root: " $6; bad = 1 } END { exit bad }' "$T/contents" >&2 ||
    fail "files not owned by root"

step "lintian"
lint_status=0
lintian --fail-on error,warning "$DEB" >"$T/lintian.log" 2>&1 || lint_status=$?
grep -v 'running with root privileges' "$T/lintian.log" || true
if [ "$lint_status" -ne 0 ] || grep -Eq '^[EW]: ' "$T/lintian.log"; then
    fail "lintian reports errors or warnings (exit code $lint_status)"
fi
echo "lintian: no errors, no warnings"

step "Unpacked documents and programs"
X=$T/root
dpkg-deb -x "$DEB" "$X"
for page in tallo tallo-run; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$X/usr/share/man/man1/$page.1.gz" >"$T/$page.txt" 2>"$T/man.err" ||
        fail "man -l $page.1.gz failed: $(cat "$T/man.err")"
    [ ! -s "$T/man.err" ] || fail "man -l $page.1.gz complains: $(cat "$T/man.err")"
    grep -q "^ *$page - " "$T/$page.txt" && grep -q "^Tallo $VERSION " "$T/$page.txt" ||
        fail "the man page $page(1) lacks its name line or version: $(head -n 8 "$T/$page.txt")"
    echo "man -l $page.1.gz: $(wc -l <"$T/$page.txt") lines, no warnings"
done
zcat "$X/usr/share/doc/tallo/changelog.gz" | head -n 1 | grep -q "^tallo ($VERSION) " ||
    fail "the changelog's newest entry is not $VERSION"
head -n 1 "$X/usr/share/doc/tallo/copyright" | grep -q '^Format: .*copyright-format/1.0/$' ||
    fail "the copyright file is not in the machine-readable format"
shown=$("$X/usr/bin/tallo-run" --version) && [ "$shown" = "tallo-run $VERSION" ] ||
    fail "tallo-run --version says '$shown', the package is $VERSION"

# An embedded database with its own lock folder, used through the unpacked
# runner and the engine beside it, the database named by an alias.
export FIREBIRD_LOCK="$T/lock"
mkdir -m 700 "$FIREBIRD_LOCK" "$T/work"
printf "create database '%s' user SYSDBA default character set WIN1251;\nexit;\n" "$T/pkg.fdb" | isql-fb -q -b
printf 'create table db_version (Version varchar(20));\ncommit;\ninsert into db_version values (%s);\ncommit;\n' \
    "'7.0.1'" >"$T/setup.sql"
cp "$X/etc/tallo/Tallo-3.ini" "$T/Tallo-3.ini"
printf 'Pkg=%s\n' "$T/pkg.fdb" >>"$T/Tallo-3.ini"
cd "$T/work"
out=$(env -u TALLO_PASSWORD "$X/usr/bin/tallo-run" run -d pkg -s "$T/Tallo-3.ini" "$T/setup.sql" </dev/null) ||
    fail "unpacked run failed: $out"
grep -q "errors: 0, elapsed time" "$T/Result.txt" || fail "unexpected protocol: $(cat "$T/Result.txt")"
version=$(env -u TALLO_PASSWORD "$X/usr/bin/tallo-run" version -d Pkg -s "$T/Tallo-3.ini" </dev/null) ||
    fail "unpacked version failed: $version"
[ "$version" = "7.0.1" ] || fail "version is '$version'"
echo "unpacked tallo-run $VERSION: run and version ok"

# The launcher of the package, pointed at the unpacked tree.
sed -e "s|/usr/lib/tallo|$X/usr/lib/tallo|g" -e "s|/etc/tallo|$X/etc/tallo|g" "$X/usr/bin/tallo" >"$T/launcher"
chmod 755 "$T/launcher"
grep -q "^LIB=$X/usr/lib/tallo\$" "$T/launcher" || fail "the launcher names no program folder"
window_check() {
    status=0
    env TALLO_HOME="$T/home-$1" QT_QPA_PLATFORM=offscreen timeout 5 "$2" >"$T/window.log" 2>&1 || status=$?
    [ "$status" -eq 124 ] || fail "the window ended early (exit code $status): $(cat "$T/window.log")"
    [ -x "$T/home-$1/tallo" ] && [ -e "$T/home-$1/IBEScript.dll" ] && [ -f "$T/home-$1/Tallo-3.ini" ] ||
        fail "the per-user program folder is incomplete: $(ls "$T/home-$1")"
    echo "$1 window stayed open; per-user folder: $(ls "$T/home-$1" | tr '\n' ' ')"
}
window_check unpacked "$T/launcher"

if [ "$round_trip" = 0 ]; then
    echo "package-test: passed (the install round trip runs with TALLO_PACKAGE_INSTALL=1 or CI=true)"
    exit 0
fi

step "Install round trip"
if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif sudo -n true 2>/dev/null; then
    SUDO="sudo -n"
else
    echo "package-test: the install round trip needs root or password-less sudo; skipped"
    exit 77
fi
APT="$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600"
present=$(dpkg-query -W -f='${Status} ${Version}' tallo 2>/dev/null || true)
case "$present" in
"" | *" not-installed "*) ;;
*) fail "refusing the install round trip: a tallo package is on this system ($present); it would be replaced and purged" ;;
esac
installed=1
$APT install "$DEB" >"$T/apt.log" 2>&1 || fail "apt install failed: $(cat "$T/apt.log")"
[ -x /usr/bin/tallo-run ] && [ -x /usr/bin/tallo ] && [ -f /usr/lib/tallo/IBEScript.dll ] ||
    fail "installed files missing"
apt show tallo 2>/dev/null | sed -n '/^Description:/,/^$/p' | sed '/^$/d' >"$T/apt-show"
check_description "$(cat "$T/apt-show")" "apt show"
[ "$(cat "$T/apt-show")" = "$description" ] || fail "apt show gives another description: $(cat "$T/apt-show")"
for page in tallo tallo-run; do
    [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man finds no installed page $page"
done
echo "apt show: clean description; man finds both pages"

chmod 777 "$T"
chmod 666 "$T/pkg.fdb"
rm -f "$T/Result.txt"
chmod 777 "$T/work"
printf 'Pkg=%s\n' "$T/pkg.fdb" | $SUDO tee -a /etc/tallo/Tallo-3.ini >/dev/null
printf 'select count(*) from db_version;\n' >"$T/check.sql"
out=$(env -u TALLO_PASSWORD /usr/bin/tallo-run run -d Pkg "$T/check.sql" </dev/null) || fail "run failed: $out"
grep -q "errors: 0, elapsed time" "$T/Result.txt" || fail "unexpected protocol: $(cat "$T/Result.txt")"
version=$(env -u TALLO_PASSWORD /usr/bin/tallo-run version -d pkg </dev/null) || fail "version failed: $version"
[ "$version" = "7.0.1" ] || fail "version is '$version'"
echo "installed run and version as $(id -un): ok"
if [ "$(id -u)" -eq 0 ]; then
    printf 'insert into db_version values (%s);\n' "'7.0.2'" >"$T/work/more.sql"
    chmod 644 "$T/work/more.sql"
    mkdir -m 700 "$T/lock-nobody"
    chown 65534:65534 "$T/lock-nobody"
    setpriv --reuid=65534 --regid=65534 --clear-groups env -u TALLO_PASSWORD FIREBIRD_LOCK="$T/lock-nobody" \
        HOME="$T" /usr/bin/tallo-run run -d Pkg "$T/work/more.sql" </dev/null >/dev/null ||
        fail "run as an unprivileged user failed: $(cat "$T/work/Result.txt")"
    echo "installed run as nobody: ok"
fi
window_check installed /usr/bin/tallo

$APT purge tallo >/dev/null
installed=0
for path in /usr/bin/tallo-run /usr/bin/tallo /usr/lib/tallo /etc/tallo /usr/share/doc/tallo \
    /usr/share/man/man1/tallo.1.gz; do
    [ ! -e "$path" ] || fail "left after purge: $path"
done
echo "package-test: passed, the install round trip included"
