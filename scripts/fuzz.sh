#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 20)
# The corpus in fuzz/corpus/<target>/ seeds each run; what a run finds new is
# kept under build/fuzz/corpus/, crashes under build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
mv70_need_packages "${MV70_BUILD_PACKAGES[@]}" "${MV70_FUZZ_PACKAGES[@]}"

seconds="${1:-20}"
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMV70_FUZZ=ON -DMV70_WERROR=ON >/dev/null
cmake --build build/fuzz --parallel "$(nproc)" >/dev/null

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in trace reply settings telnet pjlink pjlink_auth mqtt_command; do
    work="build/fuzz/corpus/$target"
    log="build/fuzz/$target.log"
    mkdir -p "$work" build/fuzz/crashes
    if build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="build/fuzz/crashes/$target-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
        result=ok
    else
        result="FAILED (see $log and build/fuzz/crashes/)"
        status=1
        grep -A 30 -m 1 -E '^==[0-9]+==ERROR|runtime error|deadly signal' "$log" >&2 || tail -n 30 "$log" >&2
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    time=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    edges=$( (grep -o 'cov: [0-9]*' "$log" || true) | tail -n 1 | cut -d' ' -f2)
    corpus=$( (grep -o 'corp: [0-9]*' "$log" || true) | tail -n 1 | cut -d' ' -f2)
    echo "fuzz_$target: ${runs:-?} executions in ${time:-?} s, coverage ${edges:-?} edges, corpus ${corpus:-?} inputs: $result"
done
exit $status
