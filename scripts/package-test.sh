#!/usr/bin/env bash
# Installs the Debian package built in BUILD (./make.sh package) on a fresh
# Debian 12 with systemd, the way the README's quick start does: apt install
# ./velantro_*.deb, recommendations included. Then the installed velantro
# --version and man -w velantro; the licence in place; the systemd user units
# valid (systemd-analyze verify) and the translator's socket on for every
# user; the translator started through socket activation, the way systemd
# starts it on the first request (systemd-socket-activate, since the chroot
# runs no systemd), translating with Apertium for the installed velantro-cli.
# Removes it and checks that every file it installed is gone. On the same
# fresh system, without git, the format check lists and checks the sources as
# CI runs it, and apt finds every package make.sh installs.
#
# The fresh system is a debootstrap chroot of bookworm (minimal, with man-db),
# made once and kept as BUILD/package-test/bookworm.tar; every run unpacks it
# anew. Downloaded packages and package lists are kept beside it, so
# repeated runs are quick.
# Needs root (chroot and mounts) and Debian's mirror.
#   scripts/package-test.sh [BUILD]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
cache=$build/package-test
pristine=$cache/bookworm.tar
root=$cache/root
# Bounds every step that waits on the network or on apt.
limit=${PACKAGE_TEST_STEP_SECONDS:-900}

shopt -s nullglob
debs=("$build"/velantro_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "FAILED: expected one velantro_*.deb in $build (./make.sh package), found ${#debs[@]}" >&2
    exit 1
fi
deb=${debs[0]}

# The chroot's mounts, undone before its folder is removed (also those a
# killed run left behind), so removing it never reaches through them.
mount_points=("$root/var/cache/apt/archives" "$root/var/lib/apt/lists" "$root/proc")
cleanup() {
    local point
    for point in "${mount_points[@]}"; do
        while mountpoint -q "$point" 2>/dev/null; do umount -l "$point"; done
    done
    rm -rf --one-file-system "$root"
}
cleanup
trap cleanup EXIT

if [ ! -f "$pristine" ]; then
    echo "== Making a fresh Debian 12 with debootstrap (once; kept in $pristine)"
    rm -rf "$cache/bootstrap"
    mkdir -p "$cache"
    timeout "$limit" debootstrap --variant=minbase --include=man-db bookworm \
        "$cache/bootstrap" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -n 20 "$cache/debootstrap.log" >&2; echo "FAILED: debootstrap" >&2; exit 1; }
    tar -C "$cache/bootstrap" -cf "$pristine.part" . && mv "$pristine.part" "$pristine"
    rm -rf "$cache/bootstrap"
fi

mkdir -p "$root" "$cache/archives/partial" "$cache/lists/partial"
tar -C "$root" -xf "$pristine"
cat >"$root/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security_mirror bookworm-security main
SOURCES
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
# Keep what apt downloads between runs: the packages and the package lists.
echo 'APT::Keep-Downloaded-Packages "true";' >"$root/etc/apt/apt.conf.d/90keep"
mount -t proc proc "$root/proc"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
mount --bind "$cache/lists" "$root/var/lib/apt/lists"
cp "$deb" "$root/tmp/"
package=/tmp/$(basename "$deb")

in_root() {
    timeout "$limit" chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

echo "== apt-get update ($SECONDS s)"
in_root apt-get update -q >"$cache/apt-update.log" 2>&1 ||
    { cat "$cache/apt-update.log" >&2; echo "FAILED: apt-get update" >&2; exit 1; }
# A desktop runs systemd; debootstrap's minimal system has none.
echo "== apt-get install systemd, as on a desktop ($SECONDS s)"
in_root apt-get install -y -q systemd >"$cache/systemd.log" 2>&1 ||
    { cat "$cache/systemd.log" >&2; echo "FAILED: apt-get install systemd" >&2; exit 1; }
echo "== apt install ./$(basename "$deb"), as the README says ($SECONDS s)"
in_root apt install -y -q "$package" >"$cache/install.log" 2>&1 ||
    { cat "$cache/install.log" >&2; echo "FAILED: apt install" >&2; exit 1; }
grep -E '^(The following NEW packages|Setting up velantro|[0-9]+ upgraded)' "$cache/install.log"
recommended=(apertium-eng-spa apertium-fr-es apertium-mkd-eng apertium-mkd-bul fonts-noto-color-emoji)
in_root dpkg-query -W -f='${Package} ${Version}\n' "${recommended[@]}" ||
    { echo "FAILED: the recommended packages are not installed" >&2; exit 1; }
echo "== velantro --version"
in_root velantro --version
echo "== man -w velantro"
in_root man -w velantro
for program in velantro-cli skype-peer translator; do
    in_root man -w "$program" >/dev/null
    in_root "$program" --version | head -n 1
done
in_root dpkg-query -L velantro >"$cache/installed-files"
echo "$(grep -c . "$cache/installed-files") paths installed"

echo "== the licence"
grep -m 1 -x 'License: GPL-3+' "$root/usr/share/doc/velantro/copyright" ||
    { echo "FAILED: no GPL-3+ in /usr/share/doc/velantro/copyright" >&2; exit 1; }
grep -q '/usr/share/common-licenses/GPL-3' "$root/usr/share/doc/velantro/copyright" &&
    [ -f "$root/usr/share/common-licenses/GPL-3" ] ||
    { echo "FAILED: the copyright file does not point at the licence's text" >&2; exit 1; }
grep -o '<project_license>[^<]*</project_license>' \
    "$root/usr/share/metainfo/org.velantro.velantro.metainfo.xml" ||
    { echo "FAILED: the metadata names no licence" >&2; exit 1; }
in_root velantro --version | grep 'License GPL-3.0-or-later' ||
    { echo "FAILED: velantro --version names no licence" >&2; exit 1; }

echo "== the systemd user units ($SECONDS s)"
units=/usr/lib/systemd/user
for unit in velantro-translator.socket velantro-translator.service velantro-xmpp.service; do
    [ -f "$root$units/$unit" ] || { echo "FAILED: $units/$unit is missing" >&2; exit 1; }
    echo "$units/$unit"
done
link=$units/sockets.target.wants/velantro-translator.socket
[ "$(readlink "$root$link")" = ../velantro-translator.socket ] ||
    { echo "FAILED: $link does not turn the socket on for every user" >&2; exit 1; }
echo "$link -> $(readlink "$root$link") (on for every user)"
mkdir -p -m 700 "$root/tmp/runtime"
status=0
in_root env XDG_RUNTIME_DIR=/tmp/runtime systemd-analyze --user verify \
    "$units/velantro-translator.socket" "$units/velantro-translator.service" \
    "$units/velantro-xmpp.service" >"$cache/verify.log" 2>&1 || status=$?
if [ $status -ne 0 ] || [ -s "$cache/verify.log" ]; then
    cat "$cache/verify.log" >&2
    echo "FAILED: systemd-analyze --user verify (status $status)" >&2
    exit 1
fi
echo "systemd-analyze --user verify: no findings"

# The service's own command on the socket's own address, handed the socket
# on the first request as systemd does, in a network namespace of its own so
# that nothing on the host holds the address.
echo "== the translator started by its socket's first request ($SECONDS s)"
listen=$(sed -n 's/^ListenStream=//p' "$root$units/velantro-translator.socket")
command=$(sed -n 's/^ExecStart=//p' "$root$units/velantro-translator.service")
echo "ListenStream=$listen"
echo "ExecStart=$command"
cat >"$root/tmp/activation.sh" <<ACTIVATION
set -u
systemd-socket-activate -l '$listen' $command 2>/tmp/activated.err &
activator=\$!
# Waits for the socket without connecting: a connection is the first request.
for _ in \$(seq 100); do grep -q '^Listening on' /tmp/activated.err && break; sleep 0.05; done
sleep 0.5
before=\$(grep -c '^translator:' /tmp/activated.err)
echo "translator lines before the first request: \$before"
translate() { # code mode text
    printf '%s\\t%s\\t%s\\n' "\$3" "\$(velantro-cli translate "\$1" "\$3")" \\
        "\$(printf '%s' "\$3" | apertium -u "\$2")"
}
translate 5 eng-spa "I would like a coffee"
translate 1 spa-eng "Hola amigo"
translate 5 fr-es "Je voudrais un café"
kill \$activator
wait \$activator 2>/dev/null
cat /tmp/activated.err
ACTIVATION
timeout "$limit" unshare --net bash -c 'ip link set lo up && exec "$@"' activation \
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 bash /tmp/activation.sh >"$cache/activation.log" 2>&1 ||
    { cat "$cache/activation.log" >&2; echo "FAILED: the activation run" >&2; exit 1; }
cat "$cache/activation.log"
grep -qx 'translator lines before the first request: 0' "$cache/activation.log" ||
    { echo "FAILED: the translator ran before the first request" >&2; exit 1; }
grep -q "^translator: engine apertium" "$cache/activation.log" &&
    grep -qx "translator: serving as the web endpoint on http://$listen/vl.asp" \
        "$cache/activation.log" ||
    { echo "FAILED: the translator did not serve with Apertium on $listen" >&2; exit 1; }
translations=$(grep -c $'\t' "$cache/activation.log")
# Each line: the text, velantro-cli's translation, Apertium's own.
if [ "$translations" -ne 3 ] || awk -F'\t' 'NF == 3 && ($2 != $3 || $2 == "" || $1 == $2) { bad = 1 }
        END { exit !bad }' "$cache/activation.log"; then
    echo "FAILED: the translations through the socket are not Apertium's" >&2
    exit 1
fi
echo "3 translations through the installed velantro-cli and the activated translator, each Apertium's own"

echo "== apt-get remove velantro ($SECONDS s)"
in_root apt-get remove -y -q velantro >"$cache/remove.log" 2>&1 ||
    { cat "$cache/remove.log" >&2; echo "FAILED: apt-get remove" >&2; exit 1; }
grep -E '^(Removing velantro|[0-9]+ upgraded)' "$cache/remove.log"
# Every file must be gone; a folder may stay only while another package
# still has something in it or ships the folder itself (hicolor-icon-theme
# its icon folders, say).
left=()
while IFS= read -r path; do
    [ -n "$path" ] || continue
    if [ -d "$root$path" ]; then
        [ -n "$(ls -A "$root$path")" ] || in_root dpkg-query -S "$path" >/dev/null 2>&1 ||
            left+=("$path (empty folder)")
    elif [ -e "$root$path" ] || [ -L "$root$path" ]; then
        left+=("$path")
    fi
done <"$cache/installed-files"
if [ ${#left[@]} -gt 0 ]; then
    printf 'left after removal: %s\n' "${left[@]}" >&2
    echo "FAILED: apt-get remove left files behind" >&2
    exit 1
fi
echo "every installed file is gone"

echo "== ./make.sh format --check on the fresh system, which has no git ($SECONDS s)"
if in_root sh -c 'command -v git' >/dev/null; then
    echo "FAILED: the fresh system has git" >&2
    exit 1
fi
mkdir -p "$root/src"
tar -C "$source_dir" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$root/src" -xf -
in_root bash /src/make.sh format --check >"$cache/format.log" 2>&1 ||
    { cat "$cache/format.log" >&2; echo "FAILED: ./make.sh format --check" >&2; exit 1; }
echo "format check passed on $(cd "$root/src" && find . -name '*.cpp' -o -name '*.h' | grep -c .) files"
# Whatever make.sh installs for CI on a fresh machine is there to install.
echo "== make.sh's package lists, resolved by apt on the fresh system ($SECONDS s)"
lists=$(sed -n '/^PACKAGES=(/,/^install_packages()/{/^install_packages()/!p}' "$source_dir/make.sh")
read -r -a wanted < <(bash -c "$lists"$'\n''echo "${PACKAGES[@]} ${PACKAGING_PACKAGES[@]}" \
    "${ENGINE_PACKAGES[@]} ${WINE_PACKAGES[@]}"')
if [ ${#wanted[@]} -lt 10 ]; then
    echo "FAILED: could not read the package lists from make.sh" >&2
    exit 1
fi
wanted+=(clang-format clang libclang-rt-14-dev debootstrap iproute2 imagemagick python3-xlib)
in_root apt-get install -s -q "${wanted[@]}" >"$cache/simulate.log" 2>&1 ||
    { tail -n 20 "$cache/simulate.log" >&2; echo "FAILED: make.sh's packages" >&2; exit 1; }
echo "${#wanted[@]} packages and their dependencies can be installed"
echo "package test passed in $SECONDS s"
