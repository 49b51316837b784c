#!/usr/bin/env bash
# The main job: build what is missing, bring up the test bed with the virtual
# device, then show the system at work against it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
had_display=""
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then had_display=1; fi

"$root/scripts/setup.sh"
. "$root/scripts/wine-commands.sh"
"$root/scripts/build.sh"
trap '"$root/scripts/testbed.sh" stop "$build"' EXIT
"$root/scripts/testbed.sh" start "$build" win64  # a current 64-bit Windows
run="$build/wine-run"

# Where no 32-bit code runs, the x64 editions are shown instead; Talvix, a
# 32-bit server only, can't be.
edition=""
if [ "$UXFER_RUNS_32BIT" != 1 ]; then
    edition=--x64
    echo "main: the 32-bit programs (Vantor, uxfer, Talvix, the 32-bit script host) are not shown: $UXFER_WHY_NO_32BIT; the x64 editions are"
fi

echo "== virtual device"
"$run" "$build/bin/x64/vdevctl.exe" info

if [ -x "$root/scripts/main-dumptool.sh" ]; then
    echo "== Vantor${edition:+ (x64)}"
    "$root/scripts/main-dumptool.sh" "$build" $edition ${had_display:+--interactive}
fi
if [ -x "$root/scripts/main-cli.sh" ]; then
    echo "== uxfer${edition:+ (x64)}"
    "$root/scripts/main-cli.sh" "$build" $edition
fi
if [ -x "$root/scripts/main-comserver.sh" ] && [ "$UXFER_RUNS_32BIT" = 1 ]; then
    echo "== Talvix"
    "$root/scripts/main-comserver.sh" "$build"
fi
if [ -x "$root/scripts/main-automation.sh" ]; then
    echo "== uXfer.Device"
    "$root/scripts/main-automation.sh" "$build"
fi
if [ -x "$root/scripts/main-sim.sh" ]; then
    echo "== without a device: uxfer${edition:+ (x64)} and uXfer.SimDevice over uXferSim.dll, no virtual device"
    "$root/scripts/main-sim.sh" "$build" $edition
fi
if [ -x "$root/scripts/main-linux.sh" ]; then
    echo "== Linux: the native uxfer over libusb against an emulated USB device, and --simulate"
    "$root/scripts/main-linux.sh"
fi
