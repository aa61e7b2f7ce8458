#!/usr/bin/env bash
# Runs each fuzzer of a fuzz build for FUZZ_SECONDS (60 by default), one
# after the other, starting from its seed corpus in fuzz/corpus/<name>/.
# Inputs found on the way go to <build>/fuzz-corpus/<name>/, so the seeds
# stay as they are; a crash or a failed check stops the run and is kept in
# <build>/fuzz-artifacts/, to be fixed and then added to the seeds.
#   bash fuzz/run.sh [BUILD_DIR] [NAME...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build-fuzz}
shift || true
names=${*:-template notifications json-print search pointer}
seconds=${FUZZ_SECONDS:-60}

for name in $names; do
    corpus="$build/fuzz-corpus/$name"
    artifacts="$build/fuzz-artifacts/$name/"
    log="$build/fuzz-$name.log"
    mkdir -p "$corpus" "$artifacts"
    dictionary=()
    [ -f "$here/$name.dict" ] && dictionary=(-dict="$here/$name.dict")
    # One input over ten seconds is a hang, and a finding too
    if ! "$build/fuzz/fuzz-$name" "${dictionary[@]}" -max_total_time="$seconds" -timeout=10 \
            -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$here/corpus/$name" > "$log" 2>&1; then
        tail -n 40 "$log"
        echo "fuzz-$name: FINDING, input kept in $artifacts (log: $log)"
        exit 1
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz-$name: $executions executions in $seconds s, corpus of $(ls "$corpus" | wc -l) new inputs, no finding"
done
