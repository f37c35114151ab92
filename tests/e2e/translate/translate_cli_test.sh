#!/usr/bin/env bash
# velantro-cli translate against the translator stand-in, on the private
# session bus this test runs on: the web endpoint while no local program
# window is present, the local program while it is, the option before the
# environment variable, and errors reported with exit status 1.
set -u
bin=$1
work=$(mktemp -d)
pids=()
failures=0
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

web_port=$((20000 + $$ % 20000))
web="http://127.0.0.1:$web_port/vl.asp"

check() { # name expected actual
    if [ "$2" == "$3" ]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}
# shellcheck source=../../../scripts/standin-waits.sh
source "$(dirname "$0")/../../../scripts/standin-waits.sh"

"$bin/translator" --web --port "$web_port" --log "$work/web.log" 2>/dev/null &
pids+=($!)
wait_for_port "$web_port"

out=$("$bin/velantro-cli" translate --web-endpoint "$web" 5 "Hello world")
check "web endpoint translates" "Hola mundo" "$out"
expected_request=$(printf 'POST /vl.asp HTTP/1.0\r\nConnection: keep-alive\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 40\r\nHost: 127.0.0.1:%s\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\nl1=%%26%%2372%%3B%%26%%23233%%3B&TargetLang=5&' "$web_port")
: >"$work/web.log"
"$bin/velantro-cli" translate --web-endpoint "$web" 5 "Hé" >/dev/null
check "the request's raw bytes" "$expected_request" "$(cat "$work/web.log")"

out=$(VELANTRO_WEB_ENDPOINT="$web" "$bin/velantro-cli" translate 2 "Hello friend")
check "environment variable" "Здравей приятел" "$out"
out=$(VELANTRO_WEB_ENDPOINT="http://127.0.0.1:1/vl.asp" "$bin/velantro-cli" translate --web-endpoint "$web" 6 "Hello")
check "option before environment" "Bonjour" "$out"

err=$("$bin/velantro-cli" translate --web-endpoint "http://127.0.0.1:$web_port/wrong" 5 "Hello" 2>&1 >/dev/null)
check "error status: exit 1" "1" "$?"
check "error status: the status line" "HTTP/1.1 404 Not Found" "$err"

# A reply that is not UTF-8 once form-decoded is an error, never an empty
# translation.
bad_port=$((web_port + 2))
/usr/bin/python3 -c '
import socket, sys
server = socket.create_server(("127.0.0.1", int(sys.argv[1])))
while True:
    client, _ = server.accept()
    client.recv(65536)
    client.sendall(b"HTTP/1.0 200 OK\r\n\r\nl1=caf%E9&")
    client.close()
' "$bad_port" &
pids+=($!)
wait_for_port "$bad_port"
err=$("$bin/velantro-cli" translate --web-endpoint "http://127.0.0.1:$bad_port/vl.asp" 5 "Hello" 2>&1 >/dev/null)
check "reply not UTF-8: exit 1" "1" "$?"
check "reply not UTF-8: the message" "The translation service's reply is not valid UTF-8." "$err"

"$bin/translator" --help | grep -q -- '--engine phrasebook | apertium | libretranslate URL | apy URL'
check "--help: the engines, exit 0" "0" "$?"

# Engines: a translation server that is down is a 500 that names the engine;
# Apertium, where installed, says so on stderr and translates.
engine_port=$((web_port + 1))
"$bin/translator" --web --port "$engine_port" --engine libretranslate "http://127.0.0.1:1" 2>"$work/libre.err" &
pids+=($!)
wait_for_port "$engine_port"
err=$("$bin/velantro-cli" translate --web-endpoint "http://127.0.0.1:$engine_port/vl.asp" 5 "Hello" 2>&1 >/dev/null)
check "server down: exit 1" "1" "$?"
check "server down: the status line" "HTTP/1.1 500 libretranslate: " "${err:0:29}"
check "server down: the engine on stderr" "translator: engine libretranslate at http://127.0.0.1:1/translate" \
    "$(head -1 "$work/libre.err")"
kill "${pids[-1]}"
if apertium -l 2>/dev/null | grep -qw eng-spa; then
    "$bin/translator" --web --port "$engine_port" --engine apertium 2>"$work/apertium.err" &
    pids+=($!)
    wait_for_port "$engine_port"
    out=$("$bin/velantro-cli" translate --web-endpoint "http://127.0.0.1:$engine_port/vl.asp" 5 "I would like a coffee")
    check "apertium translates" "Me gustaría un café" "$out"
    check "apertium on stderr" "translator: engine apertium (" "$(head -c 29 "$work/apertium.err")"
    kill "${pids[-1]}"
else
    echo "skipped: apertium is not installed"
fi

# A window whose title holds parentheses is not the local program.
"$bin/translator" --local --title "Tolvane Verbatrix 3.9 (copy)" --log "$work/odd.log" 2>"$work/odd.err" &
odd=$!
pids+=($odd)
wait_for_port 4357
wait_for_window "$work/odd.err"
before=$(logged_requests "$work/web.log")
out=$("$bin/velantro-cli" translate --web-endpoint "$web" 5 "Hello")
check "parenthesised title: translated" "Hola" "$out"
check "parenthesised title: web endpoint" "$((before + 1)) 0" "$(logged_requests "$work/web.log") $(logged_requests "$work/odd.log")"
kill "$odd"
wait "$odd" 2>/dev/null

"$bin/translator" --local --log "$work/local.log" 2>"$work/local.err" &
pids+=($!)
wait_for_port 4357
wait_for_window "$work/local.err"
before=$(logged_requests "$work/web.log")
out=$("$bin/velantro-cli" translate --web-endpoint "$web" 6 "Good morning")
check "local program translates" "Bon matin" "$out"
check "local program preferred" "$before 1" "$(logged_requests "$work/web.log") $(logged_requests "$work/local.log")"
check "local request line and host" "POST / HTTP/1.0|Host: 127.0.0.1:4357" \
    "$(head -1 "$work/local.log" | tr -d '\r')|$(grep '^Host:' "$work/local.log" | tr -d '\r')"

exit $((failures > 0))
