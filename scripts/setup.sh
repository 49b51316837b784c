#!/usr/bin/env bash
# Installs what the build and the test bed need on Debian 12, as root; installs
# nothing when everything is there already.
set -euo pipefail

packages=(cmake make googletest libwine-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64
    xvfb xauth x11-utils fonts-wqy-microhei fonts-wine imagemagick clang libclang-rt-14-dev
    libcli11-dev nlohmann-json3-dev nsis lld llvm cmark-gfm zip faketime
    pkg-config libusb-1.0-0-dev umockdev libumockdev-dev libglib2.0-dev dpkg-dev file groff-base)
. "$(dirname "$0")/wine-commands.sh"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
# The 32-bit Wine only where 32-bit x86 code runs, so that a machine without
# it needs no i386 packages.
wine32=no
runs_32bit_code && ! installed wine32:i386 && wine32=yes
[ ${#missing[@]} -eq 0 ] && [ $wine32 = no ] && exit 0
echo "setup: installing ${missing[*]}$([ $wine32 = yes ] && echo " wine32:i386")"
if [ $wine32 = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
mirror="the package mirror is unreachable or inconsistent (a mirror sync in progress?): try again later"
if [ ${#missing[@]} -gt 0 ] && ! apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    [ "$updated" = no ] && echo "setup: apt-get update failed five times and the packages can't be installed without it; $mirror" >&2
    exit 100
fi
# Without the 32-bit Wine everything else still builds and runs: the test
# command reports the 32-bit parts as not run, and why.
if [ $wine32 = yes ] && ! apt-get install -y -q --no-install-recommends wine32:i386; then
    echo "setup: the 32-bit Wine (wine32:i386) can't be installed, so the 32-bit programs won't run here; $([ "$updated" = no ] && echo "$mirror" || echo "apt-get says why above")" >&2
fi
