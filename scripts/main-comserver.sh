#!/usr/bin/env bash
# Registers Talvix.dll in the test bed's prefix and runs the VBScript sample
# against the virtual device.
#   scripts/main-comserver.sh <build-dir>    (the test bed must be up)
set -euo pipefail
build=$(cd "${1:?usage: $0 <build-dir>}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
run="$build/wine-run"
. "$build/testbed/env"
. "$(dirname "$0")/wine-commands.sh"
winpath() { WINEPREFIX="$build/wineprefix" winepath_cmd -w "$1" 2>/dev/null; }

"$run" "$build/bin/vdevctl.exe" reset
"$run" regsvr32 /s "$(winpath "$build/bin/Talvix.dll")"
out=$("$run" "$build/bin/vdevrun.exe" cscript.exe //nologo "$(winpath "$root/samples/device_info.vbs")" | tr -d '\r')
printf '%s\n' "$out"
case "$out" in
*"device_info: done"*) ;;
*) echo "main-comserver: the sample stopped early" >&2; exit 1 ;;
esac
