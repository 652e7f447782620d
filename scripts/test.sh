#!/bin/sh
# Builds Tallo and runs every test: the main build (warnings as errors), the
# same suites under AddressSanitizer + UndefinedBehaviorSanitizer, and a short
# run of every libFuzzer target. Installs what it needs first.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
JOBS=$(nproc 2>/dev/null || echo 2)
FUZZ_SECONDS=${TALLO_FUZZ_SECONDS:-30}

step() { printf '\n=== %s (%s)\n' "$1" "$(date +%H:%M:%S)"; }

step "Installing packages"
"$ROOT/scripts/bootstrap.sh"

step "Code format (.clang-format)"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files '*.cpp' '*.h'
else
    find app base cli dbselect engine packing script text tools tests bench fuzz -name '*.cpp' -o -name '*.h'
fi | xargs clang-format --dry-run -Werror

step "Main build"
cmake -S . -B build/ci -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLO_WERROR=ON >/dev/null
cmake --build build/ci -j"$JOBS"

step "Tests"
(cd build/ci && ctest -j"$JOBS" --output-on-failure --timeout 600)

step "Sanitizer build (address, undefined)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALLO_WERROR=ON -DTALLO_SANITIZE=ON \
    -DTALLO_BENCH=OFF >/dev/null
cmake --build build/asan -j"$JOBS"

step "Tests under the sanitizers"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
# The same as the tests' own setting (tests/CMakeLists.txt, TALLO_LSAN_OPTIONS).
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:use_tls=0:print_suppressions=0"
(cd build/asan && ctest -j"$JOBS" --output-on-failure --timeout 900 -LE "demo|package")

step "Fuzz targets (clang, libFuzzer, ${FUZZ_SECONDS}s each)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLO_FUZZ=ON \
    -DTALLO_GUI=OFF -DTALLO_TESTS=OFF -DTALLO_BENCH=OFF >/dev/null
cmake --build build/fuzz -j"$JOBS" --target fuzz_all
found=0
for target in $(find build/fuzz/fuzz -maxdepth 2 -type f -name 'fuzz_*' -perm -u+x | sort); do
    found=1
    name=$(basename "$target")
    corpus="build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds=""
    for d in seeds corpus; do
        src="$ROOT/fuzz/$(basename "$(dirname "$target")")/$d"
        [ -d "$src" ] && seeds="$seeds $src"
    done
    echo "--- $name"
    log="build/fuzz/$name.log"
    if ! "$target" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        "$corpus" $seeds >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz target $name failed"
        exit 1
    fi
    tail -n 8 "$log"
done
[ "$found" = 1 ] || echo "no fuzz targets built"

step "All tests passed"
