#!/usr/bin/env bash
# File-watcher benchmark: quenfold-watch side by side with inotifywait and
# @parcel/watcher on the same bursts of file operations. A watcher that is
# not available is left out with a message.
set -euo pipefail
build=${1:-build-release}
case $build in /*) ;; *) build=$PWD/$build ;; esac
here=$(cd "$(dirname "$0")" && pwd)
parcelVersion=2.6.0
arguments=()

if ! command -v python3 >/dev/null; then
    echo "python3 missing: skipping the file-watcher benchmark"
    exit 0
fi

ours=$build/tools/quenfold-watch/quenfold-watch
if [ -x "$ours" ]; then
    arguments+=(--quenfold-watch "$ours")
else
    echo "$ours not built: leaving quenfold-watch out"
fi

if ! command -v inotifywait >/dev/null && [ -f /etc/debian_version ] && command -v apt-get >/dev/null && [ "$(id -u)" = 0 ]; then
    echo "Installing inotify-tools"
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends inotify-tools >/dev/null ||
    { apt-get update >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends inotify-tools >/dev/null; } ||
    true
fi
if command -v inotifywait >/dev/null; then
    arguments+=(--inotifywait "$(command -v inotifywait)")
else
    echo "inotifywait missing and not installable here (Debian package inotify-tools): leaving it out"
fi

# Kept in the build tree, never in the sources; installed once per version
nodeDir=$build/bench-watch-node
parcelInstalled() {
    [ "$(node -p "require('$nodeDir/node_modules/@parcel/watcher/package.json').version" 2>/dev/null)" = "$parcelVersion" ] &&
    (cd "$nodeDir" && NODE_PATH=$nodeDir/node_modules node -e "require('@parcel/watcher')" 2>/dev/null)
}
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    echo "node or npm missing: leaving @parcel/watcher out"
elif parcelInstalled; then
    arguments+=(--parcel-modules "$nodeDir/node_modules")
else
    mkdir -p "$nodeDir"
    echo "Installing @parcel/watcher $parcelVersion into $nodeDir"
    if timeout 300 npm install --prefix "$nodeDir" --no-save --no-package-lock --no-audit --no-fund \
            "@parcel/watcher@$parcelVersion" >"$nodeDir/npm-install.log" 2>&1 && parcelInstalled; then
        arguments+=(--parcel-modules "$nodeDir/node_modules")
    else
        echo "npm could not install @parcel/watcher $parcelVersion (no network?), see $nodeDir/npm-install.log: leaving it out"
    fi
fi

python3 "$here/driver.py" "${arguments[@]}"
