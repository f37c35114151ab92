#!/usr/bin/env bash
# The demo: Velantro's window with a chat client and a translation program.
# On a private session bus it starts the translator stand-in as the local
# translation program, skype-peer with friends who write in Spanish, French
# and Bulgarian (and the echo contact, who answers whatever you send), and
# Velantro in a temporary folder with settings of its own.
#
# With a display the window shows and the demo runs until it is closed.
# Without one it runs on a virtual display (Xvfb), sends one message through
# the window as a person would, prints every conversation page as a screen
# reader reads it, saves a screenshot and ends; given a folder as its second
# argument, it also saves the window in English and Bulgarian, at its design
# size and stretched, there.
set -euo pipefail
build=${1:-build}
bin="$(cd "$build/bin" && pwd)"
scripts="$(cd "$(dirname "$0")" && pwd)"
shots_folder=${2:+$(realpath -m "$2")}
screenshot=${VELANTRO_DEMO_SCREENSHOT:-$(cd "$build" && pwd)/velantro-demo.png}

if [ -z "${VELANTRO_DEMO_ON_BUS:-}" ]; then
    # dbus-daemon warns when it may not raise its file limit; harmless here.
    exec env VELANTRO_DEMO_ON_BUS=1 dbus-run-session -- bash "$0" "$@" \
        2> >(grep --line-buffered -v 'Failed to set fd limit\|dbus-daemon\|SpiRegistry' >&2)
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=standin-waits.sh
source "$scripts/standin-waits.sh"

headless=
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=1
    Xvfb :77 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=:77
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X77 ] && break; sleep 0.05; done
fi

# A real offline engine when Debian's apertium is installed; the translator
# falls back to its phrase book by itself when pairs are missing.
engine=()
command -v apertium >/dev/null && engine=(--engine apertium)
"$bin/translator" --local "${engine[@]}" --log "$work/translator.log" 2>"$work/translator.err" &
pids+=($!)
wait_for_port 4357
wait_for_window "$work/translator.err"
echo "Translator: the local program on 127.0.0.1:4357;" \
    "$(grep -m1 '^translator: engine' "$work/translator.err" | sed 's/^translator: //')"

"$bin/skype-peer" --quiet --user maria --friends alice,bob,ivan,echo \
    --script "$scripts/demo-conversation.txt" </dev/null &
pids+=($!)
echo "Chat client: skype-peer as maria; friends alice (Spanish), bob (French), ivan (Bulgarian)"
echo "             and echo, who answers every message with the same text"

export XDG_CONFIG_HOME="$work/config" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
cd "$work"
if [ -z "$headless" ]; then
    echo "Velantro: write to a friend, pick the friend's language, press Send; close the window to end."
    "$bin/velantro"
    exit 0
fi

"$bin/velantro" 2>"$work/velantro.err" &
velantro=$!
pids+=($velantro)
echo "No display: Velantro runs on a virtual one and is driven through its accessibility tree."
/usr/bin/python3 "$scripts/demo_tour.py" "$velantro" "$DISPLAY" "$screenshot" "$shots_folder"
