#!/bin/sh
# Builds the benchmarks in Release and runs them. Each prints its figures and
# the ratio against a baseline measured in the same run (zlib's own calls,
# isql-fb, a bare client loop, the engine alone, memchr over the same bytes).
# The engine's figures come with statement blocks on and off.
# The loopback-server figures come from a private server of the bench build
# folder (tests/fixtures/fbserver.sh), started here and stopped at the end.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build/bench"
JOBS=$(nproc 2>/dev/null || echo 2)

"$ROOT/scripts/bootstrap.sh"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLO_TESTS=OFF -DTALLO_BENCH=ON >/dev/null
cmake --build "$BUILD" -j"$JOBS"

run() { printf '\n=== %s\n' "$*"; "$@"; }

cd "$BUILD"
export TALLO_FBSERVER_DIR="$BUILD/fbserver"
trap '"$ROOT/tests/fixtures/fbserver.sh" stop' EXIT
"$ROOT/tests/fixtures/fbserver.sh" start
run ./bench/packing/bench_packing 10 100
run ./bench/engine_split/bench_split 100
run ./bench/engine_fb/bench_engine_fb
run ./bench/engine_fb/bench_engine_fb --server "$("$ROOT/tests/fixtures/fbserver.sh" port)"
# The server through a link of 1 ms round trip (bench/link_proxy), where
# statement blocks save a round trip a statement.
run ./bench/engine_fb/bench_engine_fb --statements 5000 --server "$("$ROOT/tests/fixtures/fbserver.sh" port)" \
    --round-trip-ms 1
run ./bench/engine_fb/bench_engine_fb --statements 200000 --memory
# The same without the wait for the disk: the processors' share alone.
run ./bench/engine_fb/bench_engine_fb --no-forced-writes
run ./bench/engine_fb/bench_engine_fb --statements 200000 --no-forced-writes
QT_QPA_PLATFORM=offscreen run ./bench/window_run/bench_window_run
run ./bench/fleet/bench_fleet --rounds 3
run ./bench/memory/bench_memory
if command -v xvfb-run >/dev/null 2>&1; then
    run xvfb-run -a -s "-screen 0 1024x768x24" ./bench/startup/bench_startup
else
    QT_QPA_PLATFORM=offscreen run ./bench/startup/bench_startup
fi
