#!/usr/bin/env bash
# The demo: shows how the program reads the chat client's lines, by feeding a
# few typical ones to velantro-cli parse.
set -euo pipefail
build=${1:-build}
cli="$build/bin/velantro-cli"
lines=(
    "PROTOCOL 4"
    "CURRENTUSERHANDLE maria.k"
    "FRIENDS alice, bob,carol"
    "CHATMESSAGE 1234 STATUS RECEIVED"
    "CHATMESSAGE 1234 FROM_HANDLE alice"
    "CHATMESSAGE 1234 BODY ¿Qué tal?"
    "CHATMESSAGE 1234 SEEN"
    "ERROR 7 Invalid user handle"
)
for line in "${lines[@]}"; do
    printf '> %s\n' "$line"
    "$cli" parse "$line" | sed 's/^/    /'
done
