#!/usr/bin/env bash
# Builds the Windows layer with mingw-w64 and runs its tests under Wine, on a
# virtual X display of their own and in a Wine prefix inside the build folder.
#   scripts/windows-tests.sh [--no-build] [BUILD_DIR] [ctest options...]
# BUILD_DIR defaults to build-windows. --no-build runs an existing build (the
# Linux build's ctest does that with build/windows).
set -euo pipefail
cd "$(dirname "$0")/.."

build=yes
if [ "${1:-}" = "--no-build" ]; then
    build=no
    shift
fi
BUILD_DIR=${1:-build-windows}
[ $# -gt 0 ] && shift

WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
for tool in "$WINE64" "$WINESERVER" "$(command -v xvfb-run || true)"; do
    if [ ! -x "$tool" ]; then
        echo "windows-tests: ${tool:-xvfb-run} is missing (Debian: wine64, xvfb)" >&2
        exit 2
    fi
done

if [ "$build" = yes ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWITH_QT=OFF -DWITH_CURL=OFF \
        -DBUILD_BENCHMARKS=OFF -DFATAL_WARNINGS="${FATAL_WARNINGS:-ON}"
    cmake --build "$BUILD_DIR" --parallel "$(nproc)"
fi

BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
export WINEPREFIX="$BUILD_DIR/wine-prefix"
export WINEARCH=win64
# No debug chatter, and no offer to install Mono or Gecko into the prefix.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# Whatever ends this script, the prefix's processes end with it.
trap '"$WINESERVER" -k >/dev/null 2>&1 || true' EXIT

# xvfb-run gives one command a display of its own (-a: the first free one).
export WINE64 WINESERVER BUILD_DIR
xvfb-run -a bash -c '
    set -e
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "windows-tests: preparing the Wine prefix $WINEPREFIX"
        "$WINE64" wineboot --init >/dev/null 2>&1 || true
        "$WINESERVER" -w
    fi
    ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" "$@"
' windows-tests "$@"
