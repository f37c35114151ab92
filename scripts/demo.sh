#!/usr/bin/env bash
# The demo, until the window arrives: on a private session bus it starts the
# translation stand-ins and shows the pieces below the window at work - the
# translation exchange through the web endpoint and then through the local
# program once its window is present, the chat client's lines turned into
# events, and the interface texts read from vlintf.dat.
set -euo pipefail
build=${1:-build}
bin="$(cd "$build/bin" && pwd)"

if [ -z "${VELANTRO_DEMO_ON_BUS:-}" ]; then
    # dbus-daemon warns when it may not raise its file limit; harmless here.
    exec env VELANTRO_DEMO_ON_BUS=1 dbus-run-session -- bash "$0" "$@" \
        2> >(grep -v 'Failed to set fd limit' >&2)
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
source "$(dirname "$0")/standin-waits.sh"

web_port=18357
export VELANTRO_WEB_ENDPOINT="http://127.0.0.1:$web_port/vl.asp"
section() { printf '\n== %s\n' "$1"; }
translate() { # code text
    printf '  [%s] %s -> ' "$1" "$2"
    "$bin/velantro-cli" translate "$1" "$2"
}

echo "Language codes: 1 English, 5 Spanish, 6 French, 2 Bulgarian."
section "Translations through the web endpoint ($VELANTRO_WEB_ENDPOINT)"
"$bin/translator" --web --port "$web_port" --log "$work/web.log" 2>/dev/null &
pids+=($!)
wait_for_port "$web_port"
translate 5 "Hello world"
translate 6 "Thanks, my friend"
translate 2 "Hello friend"
translate 1 "Здравей, приятел"

section "The local translation program starts: its window is now on the desktop"
"$bin/translator" --local --log "$work/local.log" 2>"$work/local.err" &
pids+=($!)
wait_for_port 4357
wait_for_window "$work/local.err"
translate 5 "Very well, thanks"
translate 2 "The cat and the dog"
printf '  requests so far: %s to the web endpoint, %s to the local program\n' \
    "$(logged_requests "$work/web.log")" "$(logged_requests "$work/local.log")"

section "The chat client's lines, as events (velantro-cli parse)"
lines=(
    "PROTOCOL 4"
    "CURRENTUSERHANDLE maria.k"
    "USERS alice, bob, carol"
    "CHATMESSAGE 1234 STATUS RECEIVED"
    "CHATMESSAGE 1234 FROM_HANDLE alice"
    "CHATMESSAGE 1234 BODY ¿Qué tal?"
    "CHATMESSAGE 1234 SEEN"
    "ERROR 7 Invalid user handle"
)
for line in "${lines[@]}"; do
    printf '  > %s\n' "$line"
    "$bin/velantro-cli" parse "$line" | sed 's/^/      /'
done

section "The interface texts in vlintf.dat (velantro-cli dump)"
"$bin/velantro-cli" dump "$bin/vlintf.dat" | sed 's/^/  /'
