#!/usr/bin/env bash
# Configures and builds both cross builds through their presets
# (CMakePresets.json): win32 in build/, and win64 in build/x64, whose programs
# and DLLs land in build/bin/x64 (uXfer.dll with libuXfer.a, the x86-64
# virtual driver and its tools, the 64-bit uXfer tests).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)"
done
