#!/usr/bin/env bash
# The whole test suite: set-up, cross build, Wine test bed with the virtual
# device, every CTest test under Wine, then the native parser tests and a
# bounded fuzzing run.  Exit status 0 only when everything passed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$build"

trap '"$root/scripts/testbed.sh" stop "$build"' EXIT
"$root/scripts/testbed.sh" start "$build"

status=0
ctest --test-dir "$build" --output-on-failure --timeout 600 || status=1

native="$root/comserver/native/run-tests.sh"
if [ -x "$native" ]; then
    "$native" "$root/build-native" || status=1
fi
exit $status
