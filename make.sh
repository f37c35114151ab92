#!/usr/bin/env bash
# One entry point for everything: installs what is missing on Debian 12,
# configures, builds and runs.
#   ./make.sh demo     build and run the demo
#   ./make.sh test     build and run every test through ctest (WINE_TESTS=1: the Wine tests too)
#   ./make.sh build    configure and build only
#   ./make.sh bench    build and run the benchmarks, each beside its baseline
#   ./make.sh fuzz [SECONDS]   build the fuzzers with clang and run each one
#   ./make.sh wine-test   cross-build the Windows layer with mingw-w64, test it under Wine
#   ./make.sh format   apply clang-format to every C++ file
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}
FUZZ_DIR=${FUZZ_DIR:-build-fuzz}

PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libcurl4-openssl-dev zlib1g-dev
          libsimpleini-dev libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev
          dbus xvfb xauth fonts-dejavu-core at-spi2-core python3-pyatspi xdotool)
# The translator stand-in's offline engine, for its tests and the demo.
ENGINE_PACKAGES=(apertium apertium-eng-spa apertium-fr-es apertium-mkd-eng apertium-mkd-bul)
# The Windows cross build and Wine; once installed, ./make.sh test runs the
# Wine tests too (label wine).
WINE_PACKAGES=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine64 xvfb xauth
               cmake ninja-build)

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

configure_and_build() {
    install_packages "${PACKAGES[@]}"
    local fatal=OFF
    [ -n "${CI:-}" ] && fatal=ON
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DFATAL_WARNINGS="$fatal" "$@"
    cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
build)
    configure_and_build "$@"
    ;;
test)
    # WINE_TESTS=1 installs the cross build's packages and Wine first, so the
    # Wine tests run with the others instead of being skipped.
    if [ -n "${WINE_TESTS:-}" ]; then
        install_packages "${WINE_PACKAGES[@]}"
    fi
    configure_and_build
    install_packages "${ENGINE_PACKAGES[@]}"
    ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" "$@"
    ;;
demo)
    configure_and_build
    install_packages imagemagick "${ENGINE_PACKAGES[@]}"
    exec bash scripts/demo.sh "$BUILD_DIR" "$@"
    ;;
bench)
    # A Release build of its own, so the test build is not reconfigured.
    BUILD_DIR=${BENCH_DIR:-build-bench}
    install_packages python3
    configure_and_build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
    bin="$BUILD_DIR/bin"
    echo "== parsing the chat client's lines, beside copying each line"
    python3 bench/compare.py "$bin/skype_notifications_bench" CopyBaseline:ParseAndDispatch
    echo "== Translate, beside bare libcurl posting the same body"
    # Client and loopback server share one CPU, so the two sides compete alike.
    taskset -c 0 python3 bench/compare.py --repetitions 10 "$bin/translate_bench" \
        BareCurl/real_time:TranslateExchange/real_time
    echo "== the interface file, beside zlib's gzread of the same data"
    "$bin/localise_bench" "$@"
    ;;
fuzz)
    install_packages "${PACKAGES[@]}" clang libclang-rt-14-dev
    seconds=${1:-60}
    CC=clang CXX=clang++ cmake -S . -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF -DSANITIZE=address,undefined \
        -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
    cmake --build "$FUZZ_DIR" --parallel "$(nproc)"
    for f in "$FUZZ_DIR"/bin/*_fuzz; do
        echo "== $f for ${seconds}s"
        corpus="$FUZZ_DIR/corpus/$(basename "$f")"
        mkdir -p "$corpus"
        UBSAN_OPTIONS=halt_on_error=1 "$f" -max_total_time="$seconds" "$corpus" fuzz/corpus/"$(basename "$f")" 2>&1 | tail -n 3
    done
    ;;
wine-test)
    install_packages "${WINE_PACKAGES[@]}"
    fatal=OFF
    [ -n "${CI:-}" ] && fatal=ON
    FATAL_WARNINGS=$fatal exec bash scripts/windows-tests.sh "${WINDOWS_DIR:-build-windows}" "$@"
    ;;
format)
    git ls-files '*.cpp' '*.h' | xargs clang-format -i
    ;;
*)
    sed -n '2,11p' "$0"
    exit 2
    ;;
esac
