#!/usr/bin/env bash
# The systemd user units as `cmake --install` puts them: valid for systemd
# (systemd-analyze verify, their programs and manual pages found), the
# translator socket turned on for every user, and the translator started by
# the first request to its socket, as systemd does it
# (systemd-socket-activate: it listens, and on the first connection runs the
# service's command with the socket handed over).
#   translator_units_test.sh BUILD_DIR
set -u
build=$1
bin=$build/bin
work=$(mktemp -d)
pids=()
failures=0
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
check() { # name expected actual
    if [ "$2" == "$3" ]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}
for tool in systemd-analyze systemd-socket-activate; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; echo "FAILED: cmake --install"; exit 1; }
units=$prefix/lib/systemd/user
check "the units installed" "velantro-translator.service velantro-translator.socket velantro-xmpp.service" \
    "$(cd "$units" && ls -1 ./*.service ./*.socket | sed 's|^./||' | sort | paste -sd ' ')"
check "the socket turned on for every user" "../velantro-translator.socket" \
    "$(readlink "$units/sockets.target.wants/velantro-translator.socket")"
check "its programs from the prefix" "$prefix/bin/translator --web --engine apertium" \
    "$(sed -n 's/^ExecStart=//p' "$units/velantro-translator.service")"

mkdir -m 700 "$work/runtime"
# A sanitizer build installs no manual pages (its programs are not the ones
# shipped): the units' references to them are then not looked up.
man_check=--man=yes
[ -d "$prefix/share/man/man1" ] || { man_check=--man=no; echo "note: no manual pages installed"; }
verify=$(XDG_RUNTIME_DIR=$work/runtime MANPATH=$prefix/share/man: \
    systemd-analyze --user verify "$man_check" "$units"/*.socket "$units"/*.service 2>&1)
check "systemd-analyze verify: status and findings" "0 " "$? $verify"

# The service's own command on a free port, in place of the socket's
# 127.0.0.1:8357, which the user's own socket may hold.
listen=$(sed -n 's/^ListenStream=//p' "$units/velantro-translator.socket")
check "the address Velantro uses by default" "127.0.0.1:8357" "$listen"
port=$((20000 + $$ % 20000 + 1))
read -r -a command < <(sed -n 's/^ExecStart=//p' "$units/velantro-translator.service")
systemd-socket-activate -l "127.0.0.1:$port" "${command[@]}" 2>"$work/activated.err" &
pids+=($!)
# Not a connection: that would be the first request.
for _ in $(seq 100); do
    grep -q '^Listening on' "$work/activated.err" && break
    sleep 0.05
done
sleep 0.5
check "nothing started before the first request" "" "$(grep '^translator:' "$work/activated.err")"
web="http://127.0.0.1:$port/vl.asp"
if command -v apertium >/dev/null && apertium -l | grep -qw 'eng-spa'; then
    # What Apertium itself gives for the same text.
    for case in "5 eng-spa I would like a coffee" "1 spa-eng Hola amigo"; do
        read -r code mode text <<<"$case"
        out=$("$prefix/bin/velantro-cli" translate --web-endpoint "$web" "$code" "$text")
        check "$mode through Apertium: $text" "$(printf '%s' "$text" | apertium -u "$mode")" "$out"
    done
else
    out=$("$prefix/bin/velantro-cli" translate --web-endpoint "$web" 5 "Hello world")
    check "translated (apertium is not installed: the phrase book)" "Hola mundo" "$out"
fi
check "serving on the socket handed over" \
    "translator: serving as the web endpoint on http://127.0.0.1:$port/vl.asp" \
    "$(grep '^translator: serving' "$work/activated.err")"

exit $((failures > 0))
