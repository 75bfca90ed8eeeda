#!/usr/bin/env bash
# Sets up, builds and runs every test: the plain build with the end-to-end tests, the whole
# headless suite under AddressSanitizer + UndefinedBehaviorSanitizer, the server suite under
# ThreadSanitizer (with the other threaded suites, label "threads"), and short fuzz runs
# (VEXA_FUZZ_SECONDS per target, 30 by default; tools/fuzz-long.sh runs them longer).
# VEXA_TEST_STAGES picks stages (default: all).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
stages=${VEXA_TEST_STAGES:-"release asan tsan fuzz"}
jobs=$(nproc)

"$top/tools/setup.sh"

configure() {
    local dir=$1
    shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S . -B "$dir" -G Ninja "$@"
    fi
    cmake --build "$dir" -j"$jobs"
}

for stage in $stages; do
    echo "=== test stage: $stage"
    case $stage in
    release)
        configure build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
        (cd build/release && ctest --output-on-failure -j"$jobs" -LE bench)
        ;;
    asan)
        configure build/asan -DCMAKE_BUILD_TYPE=Debug -DVEXA_SANITIZE=asan -DVEXA_GUI=OFF -DVEXA_BENCH=OFF
        (cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
            ctest --output-on-failure -j"$jobs" -LE 'bench|e2e|tsan-only')
        ;;
    tsan)
        configure build/tsan -DCMAKE_BUILD_TYPE=Debug -DVEXA_SANITIZE=tsan -DVEXA_GUI=OFF -DVEXA_BENCH=OFF
        (cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
            ctest --output-on-failure -j"$jobs" -L 'server|threads')
        ;;
    fuzz)
        if [ ! -f build/fuzz/build.ninja ]; then
            cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
                -DCMAKE_CXX_COMPILER=clang++ -DVEXA_FUZZ=ON -DVEXA_TESTS=OFF -DVEXA_BENCH=OFF -DVEXA_GUI=OFF
        fi
        # Only the targets: the rest of this tree is built by the other stages.
        cmake --build build/fuzz -j"$jobs" --target vexa_fuzzers
        shopt -s nullglob
        for target in build/fuzz/fuzz/fuzz_*; do
            [ -x "$target" ] || continue
            name=$(basename "$target")
            corpus=build/fuzz/corpus/$name
            mkdir -p "$corpus"
            seeds=()
            [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
            echo "fuzzing $name for ${VEXA_FUZZ_SECONDS:-30} s"
            mkdir -p "build/fuzz/artifacts/$name"
            "$target" -max_total_time="${VEXA_FUZZ_SECONDS:-30}" -rss_limit_mb=2048 \
                -artifact_prefix="build/fuzz/artifacts/$name/" "$corpus" "${seeds[@]}"
        done
        ;;
    *)
        echo "unknown stage $stage" >&2
        exit 2
        ;;
    esac
done
echo "=== all test stages passed: $stages"
