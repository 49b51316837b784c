#!/usr/bin/env bash
# Configures and builds the cross build in <build-dir> (default: build): the
# 32-bit tree there, and inside it the 64-bit tree <build-dir>/x64, whose
# programs and DLLs land in <build-dir>/bin/x64 (uXfer.dll with libuXfer.a,
# the x86-64 virtual driver and its tools, the 64-bit uXfer tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw32.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake -S "$root" -B "$build/x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DBIN_DIR="$build/bin/x64" -DTESTBED_BUILD="$build" >/dev/null
cmake --build "$build" -j"$(nproc)"
cmake --build "$build/x64" -j"$(nproc)"
