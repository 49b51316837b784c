#!/usr/bin/env bash
# Installs what the build and the test bed need on Debian 12, as root; installs
# nothing when everything is there already.
set -euo pipefail

packages=(cmake make googletest libwine-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine32:i386 wine64
    xvfb xauth x11-utils fonts-wqy-microhei fonts-wine imagemagick clang libclang-rt-14-dev
    libcli11-dev nlohmann-json3-dev nsis lld llvm cmark-gfm zip faketime)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
