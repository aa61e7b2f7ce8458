#!/usr/bin/env bash
# Behind `make test-windows`: cross-builds the project for 64-bit Windows with
# MinGW-w64 and runs the whole test suite under Wine.
#   cmake/test-windows.sh [BUILD_DIR] [JOBS]
# GoogleTest is cross-built from Debian's sources once, into BUILD_DIR/googletest.
# Wine keeps its prefix in BUILD_DIR/wine; its server runs only while the
# tests do.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}
jobs=${2:-2}
toolchain=$PWD/cmake/toolchain-mingw64.cmake
mkdir -p "$build"
build=$(cd "$build" && pwd)

if [ ! -f "$build/googletest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "== GoogleTest for Windows"
    cmake -S /usr/src/googletest -B "$build/googletest-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$build/googletest" >/dev/null
    cmake --build "$build/googletest-build" -j "$jobs"
    cmake --install "$build/googletest-build" >/dev/null
fi

# RapidJSON is headers only and the same for every target; it alone of the
# host's /usr/include is made visible
rapidjson=$(dirname "$(find /usr/include /usr/local/include -maxdepth 3 -name document.h -path '*/rapidjson/*' 2>/dev/null | head -n 1)")
mkdir -p "$build/rapidjson-include"
ln -sfn "$rapidjson" "$build/rapidjson-include/rapidjson"

echo "== Windows build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQUENFOLD_WERROR=ON -DQUENFOLD_CORRADE=BUNDLED \
    -DGTest_DIR="$build/googletest/lib/cmake/GTest" \
    -DRAPIDJSON_INCLUDE_DIRS="$build/rapidjson-include"
cmake --build "$build" -j "$jobs"

cacheValue() {
    sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}
wine=$(cacheValue QUENFOLD_WINE)
if [ ! -x "$wine" ]; then
    echo "Wine not found: the Windows build is not tested. Install wine64."
    exit 1
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

echo "== Windows tests under Wine"
# The runtime DLLs by their Windows paths: Wine maps Z: to /. The project's
# own DLLs are beside the executables.
runtimePath=""
IFS=';' read -r -a runtimeDirs <<< "$(cacheValue QUENFOLD_MINGW_RUNTIME_DIRS)"
for directory in "${runtimeDirs[@]}"; do runtimePath="$runtimePath${runtimePath:+;}Z:$directory"; done
export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEPATH="$runtimePath"
# No Mono or Gecko installer for a prefix that needs neither
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"

# One server for the whole run, and Wine's own background processes, started
# apart from ctest: started by a test, they would inherit its output pipes
# and keep it from ending until they exit. Stopped however the run ends.
"$wineserver" -p >/dev/null 2>&1 </dev/null
trap '"$wineserver" -k 2>/dev/null || true; "$wineserver" -w 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM
"$wine" wineboot --init >/dev/null 2>&1 </dev/null

ctest --test-dir "$build" --output-on-failure -j "$jobs"
