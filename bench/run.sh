#!/usr/bin/env bash
# Runs every benchmark of a Release build: the Google Benchmark binaries,
# then the script-driven ones
set -euo pipefail
build=${1:-build-release}
here=$(cd "$(dirname "$0")" && pwd)
for binary in "$build"/bench/*Benchmark; do
    [ -x "$binary" ] || continue
    echo "== $(basename "$binary")"
    "$binary" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
for script in "$here"/*/run.sh; do
    [ -f "$script" ] || continue
    echo "== $(basename "$(dirname "$script")")"
    bash "$script" "$build"
done
