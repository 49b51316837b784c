#!/usr/bin/env bash
# Installs what the build and the test bed need on Debian 12, as root; installs
# nothing when everything is there already.
set -euo pipefail

packages=(cmake make googletest libwine-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64
    xvfb xauth x11-utils fonts-wqy-microhei fonts-wine imagemagick clang libclang-rt-14-dev
    libcli11-dev nlohmann-json3-dev nsis lld llvm cmark-gfm zip faketime
    pkg-config libusb-1.0-0-dev umockdev libumockdev-dev libglib2.0-dev dpkg-dev file groff-base)
# The 32-bit Wine only where 32-bit x86 code runs: a static i386 program that
# exits 0 (elsewhere execve refuses it), so such a machine needs no i386 packages.
probe=$(mktemp)
echo 'f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhdAAAAXQAAAAUAAAAAEAAAuAEAAAAx282A' |
    base64 -d >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null && packages+=(wine32:i386)
rm -f "$probe"
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync serves indexes that don't match their release file
# for a while: try the update again before giving up.  An index that stays
# inconsistent may be one the install doesn't need (another architecture's
# security updates): the install then goes on with what the update fetched.
updated=no
for attempt in 1 2 3 4 5; do
    apt-get update -q && { updated=yes; break; }
    [ "$attempt" -eq 5 ] && break
    echo "setup: apt-get update failed (attempt $attempt of 5); trying again in 30 s" >&2
    sleep 30
done
if ! apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    if [ "$updated" = no ]; then
        echo "setup: apt-get update failed five times and the packages can't be installed without it; the package mirror is unreachable or inconsistent (a mirror sync in progress?): try again later" >&2
    fi
    exit 100
fi
