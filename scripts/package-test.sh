#!/usr/bin/env bash
# Installs the Debian package built in BUILD (./make.sh package) on a fresh
# Debian 12, the way a person would: apt-get install ./velantro_*.deb, then
# the installed velantro --version and man -w velantro; removes it and checks
# that every file it installed is gone. On the same fresh system, without
# git, the format check lists and checks the sources as CI runs it, and apt
# finds every package make.sh installs.
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
echo "== apt-get install ./$(basename "$deb") ($SECONDS s)"
in_root apt-get install -y -q --no-install-recommends "$package" >"$cache/install.log" 2>&1 ||
    { cat "$cache/install.log" >&2; echo "FAILED: apt-get install" >&2; exit 1; }
grep -E '^(The following NEW packages|Setting up velantro|[0-9]+ upgraded)' "$cache/install.log"
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

echo "== apt-get remove velantro ($SECONDS s)"
in_root apt-get remove -y -q velantro >"$cache/remove.log" 2>&1 ||
    { cat "$cache/remove.log" >&2; echo "FAILED: apt-get remove" >&2; exit 1; }
grep -E '^(Removing velantro|[0-9]+ upgraded)' "$cache/remove.log"
# Every file must be gone; a folder may stay only while another package
# still has something in it.
left=()
while IFS= read -r path; do
    [ -n "$path" ] || continue
    if [ -d "$root$path" ]; then
        [ -n "$(ls -A "$root$path")" ] || left+=("$path (empty folder)")
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
wanted+=(clang-format clang libclang-rt-14-dev debootstrap imagemagick python3-xlib)
in_root apt-get install -s -q "${wanted[@]}" >"$cache/simulate.log" 2>&1 ||
    { tail -n 20 "$cache/simulate.log" >&2; echo "FAILED: make.sh's packages" >&2; exit 1; }
echo "${#wanted[@]} packages and their dependencies can be installed"
echo "package test passed in $SECONDS s"
