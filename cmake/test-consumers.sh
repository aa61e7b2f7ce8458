#!/usr/bin/env bash
# Builds and runs cmake/test-consumer/main.cpp against the library got each
# way a C++ project gets it: as a subproject, with FetchContent from this
# checkout's repository, with find_package() from an install of BUILD_DIR and
# from the Debian packages in PACKAGES_DIR unpacked into a temporary root,
# and with pkg-config from that root. lintian checks the packages first.
#   cmake/test-consumers.sh BUILD_DIR PACKAGES_DIR [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
packages=$2
jobs=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# consume NAME CMAKE_ARGUMENTS...: the CMake consumer, configured with the
# arguments, built and run
consume() {
    local name=$1
    shift
    echo "-- $name"
    cmake -S cmake/test-consumer -B "$work/$name" -G Ninja "$@" >"$work/$name.log" 2>&1 \
        || { cat "$work/$name.log"; exit 1; }
    cmake --build "$work/$name" -j "$jobs" >>"$work/$name.log" 2>&1 || { cat "$work/$name.log"; exit 1; }
    ctest --test-dir "$work/$name" --output-on-failure
}

# Vendored, once without install rules, as by default, and once with them
consume subproject -DQUENFOLD_CONSUME=SUBPROJECT -DQUENFOLD_SOURCE_DIR="$PWD"
consume fetchcontent -DQUENFOLD_CONSUME=FETCHCONTENT -DQUENFOLD_GIT_REPOSITORY="$PWD" \
    -DQUENFOLD_GIT_TAG="$(git rev-parse HEAD)" -DQUENFOLD_INSTALL=ON
cmake --install "$build" --prefix "$work/install" >/dev/null
consume install -DCMAKE_PREFIX_PATH="$work/install"

echo "-- lintian"
lintian --fail-on error "$packages"/*.deb
root=$work/root
for package in "$packages"/*.deb; do dpkg -x "$package" "$root"; done
consume packages -DCMAKE_PREFIX_PATH="$root/usr"

# pkg-config finds the prefix from where the .pc files are; the libraries
# have no RPATH, as packages for /usr
echo "-- pkg-config"
pkgconfig=$(dirname "$(find "$root" -name QuenfoldEditorUtils.pc)")
libraries=$(dirname "$pkgconfig")
export PKG_CONFIG_PATH=$pkgconfig
# shellcheck disable=SC2046
g++ cmake/test-consumer/main.cpp -o "$work/pkg-config-consumer" \
    -DQUENFOLD_EXPECTED_VERSION="\"$(pkg-config --modversion QuenfoldEditorUtils)\"" \
    $(pkg-config --cflags --libs QuenfoldEditorUtils)
LD_LIBRARY_PATH=$libraries "$work/pkg-config-consumer"

echo "-- packaged tools"
LD_LIBRARY_PATH=$libraries "$root/usr/bin/quenfold-template" --version
LD_LIBRARY_PATH=$libraries "$root/usr/bin/quenfold-watch" --version
