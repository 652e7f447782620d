#!/bin/sh
# Runs the README's demo command headless in a clean copy of the repository
# (its tracked files only), twice, as an unprivileged user when started as
# root, and checks that the demo's protocol says success.
#
#   scripts/demo-test.sh [SOURCE [WORK]]
#
# WORK (default: a build folder of SOURCE) keeps the copy's build folder
# between runs, so a repeated test rebuilds only what changed.
set -eu
SRC=$(cd "${1:-$(dirname "$0")/..}" && pwd)
WORK=${2:-$SRC/build}/demo-test
COPY="$WORK/src"

rm -rf "$COPY" "$WORK/home" "$WORK/fblock"
# Firebird's lock files stay in the test's own folder, apart from the
# machine's Firebird (/tmp/firebird) and the other tests.
mkdir -p "$COPY" "$WORK/home" "$WORK/build" "$WORK/fblock"
chmod 700 "$WORK/fblock"
# Tracked files as they are in the working tree; a file deleted there is skipped.
if git -C "$SRC" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$SRC" && git ls-files -z | tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$COPY"
else
    # Not a git checkout (an unpacked archive): everything but build output.
    (cd "$SRC" && tar --exclude='./build*' --exclude='./demo' --exclude='./out' -cf - .) | tar -xf - -C "$COPY"
fi
[ -x "$COPY/scripts/demo.sh" ] || { echo "demo-test: the copy has no scripts/demo.sh"; exit 1; }

RUNAS=""
if [ "$(id -u)" -eq 0 ]; then
    # Every folder above WORK must let an unprivileged user through.
    chown -R 65534:65534 "$WORK"
    if setpriv --reuid=65534 --regid=65534 --clear-groups test -r "$COPY/scripts/demo.sh"; then
        RUNAS="setpriv --reuid=65534 --regid=65534 --clear-groups"
    else
        echo "demo-test: $WORK is out of reach for an unprivileged user; running as root"
    fi
fi

for pass in 1 2; do
    log="$WORK/demo-$pass.log"
    echo "--- demo run $pass${RUNAS:+ (unprivileged)}"
    started=$(date +%s)
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u TALLO_PASSWORD HOME="$WORK/home" FIREBIRD_LOCK="$WORK/fblock" \
        TALLO_DEMO_HEADLESS=1 TALLO_DEMO_BUILD="$WORK/build" LC_ALL=C.UTF-8 \
        $RUNAS sh "$COPY/scripts/demo.sh" >"$log" 2>&1 </dev/null || status=$?
    echo "    exit code $status after $(($(date +%s) - started)) s"
    ok=1
    [ "$status" -eq 0 ] || ok=0
    grep -q "Скрипт выполнен успешно!" "$log" || ok=0
    grep -q "Demo finished: the sample script ran without errors." "$log" || ok=0
    grep -q "^Database version: 1.0.4" "$log" || ok=0
    grep -q "select \* from customer_count" "$log" || ok=0
    if [ "$ok" -ne 1 ]; then
        tail -n 60 "$log"
        echo "demo-test: run $pass did not succeed (log: $log)"
        exit 1
    fi
done
sed -n '/^=== No display/,$p' "$WORK/demo-2.log"
echo "demo-test: passed"
