#!/usr/bin/env bash
# Live-preview latency: how long after a save quenfold-template --watch has
# the new text in its output file
set -euo pipefail
build=${1:-build-release}
here=$(cd "$(dirname "$0")" && pwd)
tool=$build/tools/quenfold-template/quenfold-template
if ! command -v python3 >/dev/null; then
    echo "python3 missing: skipping the live-preview benchmark"
    exit 0
fi
if [ ! -x "$tool" ]; then
    echo "$tool not built: skipping the live-preview benchmark"
    exit 0
fi
python3 "$here/latency.py" "$tool"
