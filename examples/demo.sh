#!/usr/bin/env bash
# The demo behind `make demo`: runs the tools of a build over the files in
# examples/, showing each command and what it prints. One section per tool.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

# Shows a command, then runs it; a failure is shown with its exit status
run() {
    echo "\$ $*"
    "$@" 2>&1 || echo "(exit status $?)"
    echo
}

echo "== Rendering material descriptions with quenfold-template"
echo "The editor's material settings come first, the project defaults second:"
echo "a name missing from the first is looked up in the second."
echo
PATH=$(cd "$build/tools/quenfold-template" && pwd):$PATH
run cat examples/material.tmpl
run quenfold-template --check examples/material.tmpl
run quenfold-template examples/material.tmpl examples/brick.json examples/defaults.json
run quenfold-template examples/material.tmpl examples/glass.json examples/defaults.json
echo "Without the defaults the shader is undefined, and nothing is written:"
run quenfold-template examples/material.tmpl examples/brick.json
