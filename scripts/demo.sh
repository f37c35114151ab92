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

# Velantro always looks for the local translation program on 127.0.0.1:4357,
# so the demo's translator needs that port for itself.
port_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
if port_taken 4357; then
    echo "demo: port 4357 on 127.0.0.1 is already in use by another program; the demo's" >&2
    echo "      translator must listen there, since Velantro looks for the local translation" >&2
    echo "      program on that port. Stop that program (ss -ltnp 'sport = :4357' shows which" >&2
    echo "      one) and run the demo again." >&2
    exit 1
fi

headless=
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=1
    # Xvfb picks a free display itself and writes its number when it is ready.
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
    if [ ! -s "$work/display" ]; then
        echo "demo: the virtual display (Xvfb) did not start" >&2
        exit 1
    fi
    export DISPLAY=":$(head -n 1 "$work/display")"
fi

# A real offline engine when Debian's apertium is installed; the translator
# falls back to its phrase book by itself when pairs are missing.
engine=()
command -v apertium >/dev/null && engine=(--engine apertium)
"$bin/translator" --local "${engine[@]}" --log "$work/translator.log" 2>"$work/translator.err" &
translator=$!
pids+=($translator)
# Another program may still have taken the port since the check above: the
# translator then says so on its stderr.
if ! (wait_for_port 4357 && wait_for_window "$work/translator.err") ||
    ! kill -0 "$translator" 2>/dev/null; then
    echo "demo: the translator stand-in did not start:" >&2
    cat "$work/translator.err" >&2
    exit 1
fi
echo "Translator: the local program on 127.0.0.1:4357;" \
    "$(grep -m1 '^translator: engine' "$work/translator.err" | sed 's/^translator: //')"

"$bin/skype-peer" --quiet --user maria --friends alice,bob,ivan,echo \
    --script "$scripts/demo-conversation.txt" </dev/null &
pids+=($!)
echo "Chat client: skype-peer as maria; friends alice (Spanish), bob (French), ivan (Bulgarian)"
echo "             and echo, who answers every message with the same text"

export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
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
