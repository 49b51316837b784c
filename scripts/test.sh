#!/usr/bin/env bash
# The whole test suite: set-up, both cross builds and the release packages,
# then the CTest tests under Wine in two configurations one after the other,
# each with the virtual device:
#   1. a 64-bit Windows (win64 prefix, x86-64 driver): the whole 32-bit suite
#      under WoW64, then the 64-bit suite (the x64 programs and the packages);
#   2. a 32-bit Windows (win32 prefix, 32-bit driver): what depends on it.
# In either, the tests labelled sim (add_sim_gtest) run in the test bed's
# second prefix, which has no virtual device: uxfer and Vantor of the tree's
# bitness over uXferSim.dll.  They are part of the presets win32 and win64.
# On the 64-bit Windows' test bed, the parity table (scripts/parity.sh): the
# same uxfer commands on Windows and on Linux leave the same device log and
# the same files.  Then the Linux edition natively (preset linux: the USB link and the device
# model over umockdev, the Debian package and its install rules, no Wine, no
# 32-bit code), and the native parser tests
# and a bounded fuzzing run.  On a machine that
# runs no 32-bit x86 code (or with UXFER_NO_32BIT=1) the 32-bit suite and the
# 32-bit Windows can't run: each such part is reported in one line with its
# number of tests and the reason.  Exit status 0 only when everything that ran
# passed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
# The presets (CMakePresets.json) are found in the source folder.
cd "$root"

"$root/scripts/setup.sh"
. "$root/scripts/wine-commands.sh"
# Both cross builds with their tests, then the release packages the package
# tests install.
"$root/scripts/build.sh" --tests
"$root/scripts/package.sh"

trap '"$root/scripts/testbed.sh" stop "$build"' EXIT
status=0
not_run=()

# The gtest cases of the tests folders run under Wine (not the native parser's),
# or of the named suites only, counted from the sources: a part that can't run
# can't list its cases either.
count_cases() {
    local pattern='^(TEST|TEST_F|TEST_P)\('
    [ $# -gt 0 ] && pattern="^(TEST|TEST_F|TEST_P)\\(($(IFS='|'; echo "$*")),"
    grep -hE "$pattern" -r "$root/tests" --include='*.cpp' --exclude-dir=comserver_native | wc -l
}
# The suites that need a 32-bit Windows, as tests/*/CMakeLists.txt name them.
windows32_suites() {
    sed -n '/WINDOWS32_SUITES/{s/.*WINDOWS32_SUITES//;s/)//;p}' "$root"/tests/*/CMakeLists.txt | tr -s ' ' '\n' | grep .
}
# Runs a test preset; the tests it skipped (they say why in their output) are
# named.  A test that fails runs once more: Wine now and then loses a program
# before it starts (no output, a few milliseconds).  A test that passed only on
# its second run is named in the summary with its first run's output in the log.
run_preset() {
    local log="$build/ctest-$1.log"
    ctest --preset "$1" --repeat until-pass:2 2>&1 | tee "$log" || status=1
    local skipped retried
    skipped=$(sed -n 's/^\t *[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
    [ -z "$skipped" ] ||
        not_run+=("skipped: $(echo "$skipped" | wc -l) tests of preset $1: $(echo "$skipped" | tr '\n' ' ')")
    retried=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\*\*\*\(Failed\|Timeout\|Exception\).*/\1/p' "$log" | sort -u)
    [ -z "$retried" ] ||
        not_run+=("failed once, then ran again: $(echo "$retried" | wc -l) tests of preset $1 (see $log): $(echo "$retried" | tr '\n' ' ')")
}

echo "== 64-bit Windows"
"$root/scripts/testbed.sh" start "$build" win64
if [ "$UXFER_RUNS_32BIT" = 1 ]; then
    echo "== 64-bit Windows: 32-bit suite"
    run_preset win32
else
    not_run+=("not run: the 32-bit suite ($(count_cases) test cases, parameterised ones counted once): $UXFER_WHY_NO_32BIT")
fi
echo "== 64-bit Windows: 64-bit suite"
run_preset win64
# On the same test bed: the Linux uxfer against the same device model.
echo "== parity: the same uxfer commands on Windows and on Linux"
{ cmake --preset linux >/dev/null && cmake --build --preset linux -j2 --target uxfer_exe usbbed_run >/dev/null &&
    "$root/scripts/parity.sh" "$build"; } || status=1
"$root/scripts/testbed.sh" stop "$build"

# Again on a 32-bit Windows, what carries the label windows32: the waits of
# both Windows generations, the dump tool's dialogs, Talvix registration, its
# clients and driver versions.
if [ "$UXFER_RUNS_32BIT" = 1 ]; then
    echo "== 32-bit Windows"
    "$root/scripts/testbed.sh" start "$build" win32
    run_preset win32-on-windows32
    "$root/scripts/testbed.sh" stop "$build"
else
    # shellcheck disable=SC2046
    not_run+=("not run: the 32-bit Windows configuration ($(count_cases $(windows32_suites)) test cases, label windows32): $UXFER_WHY_NO_32BIT")
fi

echo "== Linux edition"
{ cmake --preset linux >/dev/null && cmake --build --preset linux -j2 && ctest --preset linux; } || status=1

echo "== native parser"
{ cmake --preset native >/dev/null && cmake --build --preset native -j2 && ctest --preset native; } || status=1

echo "== summary"
for line in "${not_run[@]}"; do echo "$line"; done
[ $status = 0 ] && echo "every part that ran passed" || echo "some tests failed"
exit $status
