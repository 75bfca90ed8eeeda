#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) one after the other for a given time each, on the
# corpus the fuzz stage of tools/test.sh keeps, and prints the executions and coverage each
# reached. Builds build/fuzz first when needed.
#   tools/fuzz-long.sh [seconds per target, default 600] [target ...]
# Crashing inputs go to build/fuzz/artifacts/<target>/; each run's log to build/fuzz/logs/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-600}
shift || true

if [ ! -f build/fuzz/build.ninja ]; then
    cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DVEXA_FUZZ=ON -DVEXA_TESTS=OFF -DVEXA_BENCH=OFF -DVEXA_GUI=OFF
fi
cmake --build build/fuzz -j"$(nproc)" --target vexa_fuzzers

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for target in build/fuzz/fuzz/fuzz_*; do
        [ -x "$target" ] && targets+=("$(basename "$target")")
    done
fi

mkdir -p build/fuzz/logs
summary=()
failed=0
for name in "${targets[@]}"; do
    corpus=build/fuzz/corpus/$name
    artifacts=build/fuzz/artifacts/$name
    log=build/fuzz/logs/$name.log
    mkdir -p "$corpus" "$artifacts"
    seeds=()
    [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
    echo "fuzzing $name for $seconds s (log: $log)"
    status=0
    "build/fuzz/fuzz/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
    # libFuzzer's last status line: "#<runs> DONE cov: <edges> ft: <features> corp: <n>/<bytes> ..."
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    runs=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$last")
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
    corp=$(sed -nE 's/.* corp: ([0-9]+\/[0-9A-Za-z]+).*/\1/p' <<<"$last")
    result=ok
    if [ "$status" -ne 0 ]; then
        result="FAILED (exit $status; see $log and $artifacts/)"
        failed=1
    fi
    summary+=("$(printf '%-22s runs %10s  cov %6s  ft %6s  corpus %-12s %s' \
        "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result")")
done

echo "=== fuzz summary ($seconds s per target)"
printf '%s\n' "${summary[@]}"
exit $failed
