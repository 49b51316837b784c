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

# Run again on the 32-bit Windows: the waits of both Windows generations, the
# dump tool's dialogs, Talvix registration, its clients and driver versions.
on_win32='XferGeneration5\.|XferCommands\.|DialogTest\.|TalvixRegistration\.|TalvixClient\.|TalvixSample\.|TalvixDriverVersion\.'

"$root/scripts/setup.sh"
# Both cross builds, then the release packages the package tests install.
"$root/scripts/package.sh" "$build"

trap '"$root/scripts/testbed.sh" stop "$build"' EXIT
status=0

echo "== 64-bit Windows: 32-bit suite"
"$root/scripts/testbed.sh" start "$build" win64
ctest --test-dir "$build" --output-on-failure --timeout 600 || status=1
echo "== 64-bit Windows: 64-bit suite"
ctest --test-dir "$build/x64" --output-on-failure --timeout 600 || status=1
"$root/scripts/testbed.sh" stop "$build"

echo "== 32-bit Windows"
"$root/scripts/testbed.sh" start "$build" win32
ctest --test-dir "$build" --output-on-failure --timeout 600 -R "$on_win32" || status=1
"$root/scripts/testbed.sh" stop "$build"

native="$root/comserver/native/run-tests.sh"
if [ -x "$native" ]; then
    "$native" "$root/build-native" || status=1
fi
exit $status
