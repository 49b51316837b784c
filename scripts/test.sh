#!/usr/bin/env bash
# The whole test suite: set-up, both cross builds and the release packages,
# then the CTest tests under Wine in two configurations one after the other,
# each with the virtual device:
#   1. a 64-bit Windows (win64 prefix, x86-64 driver): the whole 32-bit suite
#      under WoW64, then the 64-bit suite;
#   2. a 32-bit Windows (win32 prefix, 32-bit driver): what depends on it.
# Then the native parser tests and a bounded fuzzing run.  Exit status 0 only
# when everything passed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
# The presets (CMakePresets.json) are found in the source folder.
cd "$root"

"$root/scripts/setup.sh"
# Both cross builds, then the release packages the package tests install.
"$root/scripts/package.sh"

trap '"$root/scripts/testbed.sh" stop "$build"' EXIT
status=0

echo "== 64-bit Windows: 32-bit suite"
"$root/scripts/testbed.sh" start "$build" win64
ctest --preset win32 || status=1
echo "== 64-bit Windows: 64-bit suite"
ctest --preset win64 || status=1
"$root/scripts/testbed.sh" stop "$build"

# Again on a 32-bit Windows, what carries the label windows32: the waits of
# both Windows generations, the dump tool's dialogs, Talvix registration, its
# clients and driver versions.
echo "== 32-bit Windows"
"$root/scripts/testbed.sh" start "$build" win32
ctest --preset win32-on-windows32 || status=1
"$root/scripts/testbed.sh" stop "$build"

echo "== native parser"
{ cmake --preset native >/dev/null && cmake --build --preset native -j2 && ctest --preset native; } || status=1
exit $status
