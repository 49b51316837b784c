#!/usr/bin/env bash
# The main job: build what is missing, bring up the test bed with the virtual
# device, then show the system at work against it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
had_display=""
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then had_display=1; fi

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
trap '"$root/scripts/testbed.sh" stop "$build"' EXIT
"$root/scripts/testbed.sh" start "$build" win64  # a current 64-bit Windows
run="$build/wine-run"

echo "== virtual device"
"$run" "$build/bin/vdevctl.exe" info

if [ -x "$root/scripts/main-dumptool.sh" ]; then
    echo "== Vantor"
    "$root/scripts/main-dumptool.sh" "$build" ${had_display:+--interactive}
fi
if [ -x "$root/scripts/main-cli.sh" ]; then
    echo "== uxfer"
    "$root/scripts/main-cli.sh" "$build"
fi
if [ -x "$root/scripts/main-comserver.sh" ]; then
    echo "== Talvix"
    "$root/scripts/main-comserver.sh" "$build"
fi
if [ -x "$root/scripts/main-automation.sh" ]; then
    echo "== uXfer.Device"
    "$root/scripts/main-automation.sh" "$build"
fi
