#!/bin/sh
# Configures, builds and runs the native parser tests and a bounded fuzz run.
#   comserver/native/run-tests.sh <native-build-dir>
# A longer fuzz run afterwards:
#   cmake --build <native-build-dir> --target fuzz_long   (-DFUZZ_LONG_SECONDS=...)
set -eu
build=${1:?usage: run-tests.sh <native-build-dir>}
here=$(cd "$(dirname "$0")" && pwd)
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure
