#!/usr/bin/env bash
# Configures and builds both cross builds through their presets
# (CMakePresets.json): win32 in build/, and win64 in build/x64, whose programs
# and DLLs land in build/bin/x64 (uXfer.dll with libuXfer.a, the x86-64
# virtual driver and its tools, the 64-bit uXfer tests).
#   scripts/build.sh           the programs, the virtual device and its tools:
#                              what the main job and the packages need
#   scripts/build.sh --tests   also the tests and benchmarks (the build presets
#                              win32-tests and win64-tests): what ctest runs
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
"") suffix="" ;;
--tests) suffix=-tests ;;
*) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset$suffix" -j"$(nproc)"
done
