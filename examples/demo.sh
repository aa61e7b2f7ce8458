#!/usr/bin/env bash
# The demo behind `make demo`: runs the tools of a build over the files in
# examples/, showing each command and what it prints. One section per tool,
# and a live preview to end with.
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

echo "== Watching a folder with quenfold-watch"
echo "The watcher runs in the background on a fresh folder, printing one line per"
echo "change, while files there are created, written, renamed and deleted."
echo
PATH=$(cd "$build/tools/quenfold-watch" && pwd):$PATH
folder=$(mktemp -d)
events=$(mktemp)
preview=$(mktemp -d)
trap 'kill $watcher $previewer 2>/dev/null || true; rm -rf "$folder" "$events" "$preview"' EXIT
echo "\$ quenfold-watch $folder &"
quenfold-watch --timeout 60 "$folder" >"$events" &
watcher=$!

# Prints nothing when ready: a probe file shows when changes get through
until grep -q "/.probe " "$events"; do
    touch "$folder/.probe"
    sleep 0.05
done
rm "$folder/.probe"
until grep -q "/.probe FileWatch::Event::Remove" "$events"; do sleep 0.05; done
ready=$(wc -l <"$events")

cd "$folder"
for command in "mkdir textures" "echo 'roughness 0.8' > brick.mat" \
        "echo 'roughness 0.5' >> brick.mat" "mv brick.mat wall.mat" \
        "touch textures/albedo.png" "rm wall.mat"; do
    echo "\$ $command"
    eval "$command"
done
cd - >/dev/null
until grep -q "/wall.mat FileWatch::Event::Remove" "$events"; do sleep 0.05; done
kill -INT $watcher
wait $watcher
echo
echo "What quenfold-watch printed:"
tail -n +$((ready + 1)) "$events"

echo
echo "== A live preview with quenfold-template --watch"
echo "The preview writes the brick material, then writes it again each time the"
echo "template or a JSON file is saved: here the editor saves a new colour."
echo
cp examples/material.tmpl examples/brick.json examples/defaults.json "$preview"
cd "$preview"
echo "\$ quenfold-template --watch -o brick.mat material.tmpl brick.json defaults.json &"
quenfold-template --watch -o brick.mat material.tmpl brick.json defaults.json 2>log &
previewer=$!
until grep -q "Watching" log; do sleep 0.05; done
run grep base_color brick.mat
# sed -i saves as many editors do: a new file renamed over the old one
run sed -i 's/"r": 0.62, "g": 0.31, "b": 0.24/"r": 0.2, "g": 0.4, "b": 0.8/' brick.json
until [ "$(grep -c written log)" -ge 2 ]; do sleep 0.05; done
run grep base_color brick.mat
kill -INT $previewer
wait $previewer
echo "What the preview told on standard error:"
cat log
