#!/usr/bin/env bash
# One entry point for everything: installs what is missing on Debian 12,
# configures, builds and runs.
#   ./make.sh demo     build and run the demo (demo --xmpp: with a real XMPP account)
#   ./make.sh test     build and run every test through ctest (WINE_TESTS=1: the Wine tests too)
#   ./make.sh build    configure and build only
#   ./make.sh bench    build and run the benchmarks, each beside its baseline
#   ./make.sh sanitize build with AddressSanitizer and UBSan and run every test
#   ./make.sh fuzz [SECONDS]   build the fuzzers with clang and run each one
#   ./make.sh wine-test   cross-build the Windows layer with mingw-w64, test it under Wine
#   ./make.sh format [--check] apply clang-format to every C++ file, or only check
#   ./make.sh tidy     clang-tidy (the checks in .clang-tidy) on the program's, the tool's and the stand-ins' sources and headers
#   ./make.sh package  build the Debian package build/velantro_<version>_<arch>.deb
#   ./make.sh package-test  build it, install it on a fresh Debian 12 (a chroot), remove it
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}
FUZZ_DIR=${FUZZ_DIR:-build-fuzz}
SANITIZE_DIR=${SANITIZE_DIR:-build-sanitize}

PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libcurl4-openssl-dev zlib1g-dev
          libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev libsm-dev libice-dev libdbus-1-dev
          dbus xvfb xauth fonts-dejavu-core at-spi2-core python3-pyatspi python3-xlib xdotool
          libstrophe-dev prosody python3-slixmpp openssl help2man man-db
          # the conversation history's file (Debian's build has FTS5)
          libsqlite3-dev
          # skype-peer's keyring (qtkeychain loads libsecret), a Secret Service
          # and secret-tool for its test, and systemd's tools for the user units'
          qtkeychain-qt6-dev libsecret-1-0 gnome-keyring libsecret-tools systemd)
# Building the Debian package and checking it and its desktop metadata.
PACKAGING_PACKAGES=(dpkg-dev file desktop-file-utils appstream lintian)
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

# A path as a regular expression that matches it alone.
regex_quoted() {
    printf '%s' "$1" | sed 's/[][\\.*^$+?(){}|]/\\&/g'
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
    install_packages "${PACKAGING_PACKAGES[@]}"
    configure_and_build
    install_packages "${ENGINE_PACKAGES[@]}"
    ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" "$@"
    ;;
demo)
    configure_and_build
    install_packages imagemagick "${ENGINE_PACKAGES[@]}"
    if [ "${1:-}" = --xmpp ]; then
        shift
        exec /usr/bin/python3 scripts/demo_xmpp.py "$BUILD_DIR" "$@"
    fi
    exec bash scripts/demo.sh "$BUILD_DIR" "$@"
    ;;
bench)
    # A Release build of its own, so the test build is not reconfigured. Every
    # figure is a ratio to a baseline measured in the same run.
    BUILD_DIR=${BENCH_DIR:-build-bench}
    install_packages python3 python3-xlib "${ENGINE_PACKAGES[@]}" apertium-apy
    configure_and_build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
    bin="$BUILD_DIR/bin"
    echo "== parsing the chat client's lines, beside copying each line (throughput, a figure to watch)"
    python3 bench/compare.py "$bin/skype_notifications_bench" CopyBaseline:ParseAndDispatch
    echo "== Translate, beside bare libcurl posting the same body (throughput, higher is better)"
    # Client and loopback server share one CPU, so the two sides compete alike.
    taskset -c 0 python3 bench/compare.py --repetitions 10 "$bin/translate_bench" \
        BareCurl/real_time:TranslateExchange/real_time
    echo "== the interface file, beside zlib's gzread of the same data (throughput, higher is better)"
    "$bin/localise_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true |
        sed -n '/^Throughput as a fraction/,$p'
    # The whole program runs on a virtual display and a private session bus;
    # Debian's python3 has the accessibility and X bindings.
    echo "== start-up and peak memory, beside a minimal Qt 6 window (figures to watch)"
    /usr/bin/python3 bench/startup_memory.py "$bin"
    echo "== 1,000 incoming messages, beside the translator's own time per request (lower is better)"
    /usr/bin/python3 bench/message_burst.py "$bin"
    echo "== the window's answers to a screen reader while 20 messages wait on a 1-s service, beside its answers at rest (lower is better)"
    /usr/bin/python3 bench/window_responsiveness.py "$bin"
    echo "== start-up with 100,000 stored entries over 50 partners, beside start-up with no history (lower is better)"
    /usr/bin/python3 bench/history_startup.py "$bin"
    echo "== the history, 100,000 entries over 50 partners: opening it and loading each partner's newest 200, beside an empty one; a search of one partner, beside loading a page of 50 (times as long, figures to watch)"
    python3 bench/compare.py --time "$bin/history_store_bench" \
        OpenAndLoad/empty/real_time:OpenAndLoad/full/real_time \
        OpenAndLoad/empty/real_time:OpenAndLoad/full_open_only/real_time \
        RecentPage/real_time:Search/common/real_time RecentPage/real_time:Search/prefix/real_time \
        RecentPage/real_time:Search/one/real_time
    echo "== appending to a page: by the entries already there, by the entry's length (CPU time, flat then flat past the cut)"
    "$bin/page_log_bench"
    echo "== Apertium through the translator stand-in, beside Apertium's own server APy (time per request, lower is better)"
    /usr/bin/python3 bench/apertium_latency.py "$bin"
    ;;
sanitize)
    # A folder of its own, so the test build is not reconfigured. A sanitizer
    # finding stops the program that made it, which fails its test.
    BUILD_DIR=$SANITIZE_DIR
    configure_and_build -DSANITIZE=address,undefined -DBUILD_BENCHMARKS=OFF \
        -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=all
    install_packages "${ENGINE_PACKAGES[@]}"
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" "$@"
    ;;
fuzz)
    # Each fuzzer starts from its seeds in fuzz/corpus/<name>/ and keeps what it
    # finds in the build folder. A crash, a sanitizer finding or an input that
    # takes over 30 s fails the run; its input is saved beside the log.
    install_packages "${PACKAGES[@]}" clang libclang-rt-14-dev
    seconds=${1:-60}
    CC=clang CXX=clang++ cmake -S . -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF -DSANITIZE=address,undefined \
        "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -fno-sanitize-recover=all"
    cmake --build "$FUZZ_DIR" --parallel "$(nproc)" --target fuzzers
    failed=()
    for f in "$FUZZ_DIR"/bin/*_fuzz; do
        name=$(basename "$f")
        seeds=fuzz/corpus/$name
        if [ ! -d "$seeds" ]; then
            echo "== $name: no seed corpus in $seeds"
            failed+=("$name")
            continue
        fi
        corpus="$FUZZ_DIR/corpus/$name"
        log="$FUZZ_DIR/$name.log"
        mkdir -p "$corpus"
        echo "== $name for ${seconds}s"
        if UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$f" -max_total_time="$seconds" \
            -timeout=30 -artifact_prefix="$FUZZ_DIR/$name-" "$corpus" "$seeds" >"$log" 2>&1; then
            grep -E '^Done [0-9]+ runs' "$log" || tail -n 1 "$log"
        else
            tail -n 60 "$log"
            failed+=("$name")
        fi
    done
    if [ ${#failed[@]} -gt 0 ]; then
        echo "Fuzzing failed: ${failed[*]}"
        exit 1
    fi
    ;;
wine-test)
    install_packages "${WINE_PACKAGES[@]}"
    fatal=OFF
    [ -n "${CI:-}" ] && fatal=ON
    FATAL_WARNINGS=$fatal exec bash scripts/windows-tests.sh "${WINDOWS_DIR:-build-windows}" "$@"
    ;;
tidy)
    # Configures only: clang-tidy reads the compile commands. The one source
    # that includes moc output needs the moc step run first.
    install_packages clang-tidy "${PACKAGES[@]}"
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    mapfile -t autogen < <(ninja -C "$BUILD_DIR" -t targets all | grep -o '^[A-Za-z0-9_]*_autogen' | sort -u)
    [ ${#autogen[@]} -eq 0 ] || cmake --build "$BUILD_DIR" --target "${autogen[@]}"
    # The project's headers are checked wherever the checkout lies: those of
    # src/ are reached through the build's include folders (links), the others
    # where they are. Anchored at the checkout, so that nothing outside it
    # counts, not even when it lies in a folder named src.
    root=$(regex_quoted "$(pwd)")
    include=$(regex_quoted "$(cd "$BUILD_DIR" && pwd)/include")
    # Any finding fails (WarningsAsErrors in .clang-tidy).
    run-clang-tidy -p "$BUILD_DIR" -j "$(nproc)" -quiet \
        -header-filter="^($root/(src|tools|standins)|$include)/.*\.h$" \
        "^$root/(src|tools|standins)/.*\.cpp$"
    ;;
format)
    install_packages clang-format
    # Listed without git, which a fresh machine may not have; build folders
    # and hidden ones are not the project's sources.
    cpp_files() {
        find . \( -path './build*' -o -path './.*' \) -prune -o \
            -type f \( -name '*.cpp' -o -name '*.h' \) -print0
    }
    if [ "${1:-}" = --check ]; then
        cpp_files | xargs -0 clang-format --dry-run -Werror
    else
        cpp_files | xargs -0 clang-format -i
    fi
    ;;
package)
    install_packages "${PACKAGING_PACKAGES[@]}"
    configure_and_build
    (cd "$BUILD_DIR" && cpack --config CPackConfig.cmake)
    ;;
package-test)
    # A fresh Debian 12 made by debootstrap, kept in the build folder; the
    # translator's socket is tried in a network namespace of its own (ip).
    install_packages "${PACKAGING_PACKAGES[@]}" debootstrap iproute2
    configure_and_build
    (cd "$BUILD_DIR" && cpack --config CPackConfig.cmake)
    exec bash scripts/package-test.sh "$BUILD_DIR"
    ;;
*)
    sed -n '2,14p' "$0"
    exit 2
    ;;
esac
