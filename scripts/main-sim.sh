#!/usr/bin/env bash
# Without a device, in the main job: in the test bed's prefix that has no
# virtual device and no shim, uxfer --simulate writes a file and reads it back
# in another process, a knob set by name makes the next read fail, the request
# log shows what was sent; then a JScript reads the same memory through
# uXfer.SimDevice.  The x64 editions where no 32-bit code runs.
#   scripts/main-sim.sh <build-dir> [--x64]    (the test bed must be up)
set -euo pipefail
build=$(cd "${1:?usage: $0 <build-dir> [--x64]}" && pwd)
edition=""
[ "${2:-}" = --x64 ] && edition=x64
bin="$build/bin${edition:+/$edition}"
run="$build/sim-run"
work="$build/sim-main${edition:+-$edition}"
. "$build/testbed/sim-env"
. "$(dirname "$0")/wine-commands.sh"
winpath() { WINEPREFIX="$build/simprefix" winepath_cmd -w "$1" 2>/dev/null; }
rm -rf "$work"
mkdir -p "$work/devices"
# Devices of their own, so that nothing a user or test left there is shown.
UXFERSIM_HOME=$(winpath "$work/devices")
export UXFERSIM_HOME WINEDEBUG=-all
uxfer() { "$run" "$bin/uxfer.exe" "$@" | tr -d '\r'; }
show() { echo "\$ uxfer $*"; uxfer "$@"; }

head -c 65536 /dev/urandom >"$work/image.bin"
show sim reset
show write "$(winpath "$work/image.bin")" --addr 0x1000 --raw --verify --simulate
show read "$(winpath "$work/back.bin")" --addr 0x1000 --size 32K --raw --simulate
if cmp -s "$work/image.bin" "$work/back.bin"; then
    echo "main-sim: the file read back in another process equals the one written (65536 bytes)"
else
    echo "main-sim: the file read back differs from the one written" >&2
    exit 1
fi
show sim set fail_read 1
echo "\$ uxfer read back.bin --addr 0x1000 --size 32K --raw --simulate"
set +e
uxfer read "$(winpath "$work/back.bin")" --addr 0x1000 --size 32K --raw --simulate 2>&1
code=$?
set -e
echo "(exit $code)"
[ "$code" = 3 ] || { echo "main-sim: the failing read gave exit $code, not 3" >&2; exit 1; }
echo "\$ uxfer sim log (the last requests)"
uxfer sim log | tail -n 6

# The script host of the tree's bitness, with the server of that bitness
# registered in this prefix only while it runs.  A 64-bit host through the
# 64-bit loader: the 32-bit one would start the host of system32 as WoW64 sees it.
if [ -n "$edition" ]; then
    host_wine=/usr/lib/wine/wine64 host='C:\windows\system32'
else
    host_wine=$WINE host='C:\windows\syswow64'
fi
host() { WINEPREFIX="$build/simprefix" "$host_wine" "$host\\$1" "${@:2}"; }
server=$(winpath "$bin/uXferAutoSim.dll")
trap 'host regsvr32.exe /s /u "$server" || true' EXIT
host regsvr32.exe /s "$server"
uxfer sim set fail_read 0 >/dev/null
cat >"$work/sim.js" <<'JS'
var device = new ActiveXObject("uXfer.SimDevice");
device.Raw = true;
var bytes = device.ReadToFile(WScript.Arguments(0), 0x1000, 0x4000);
WScript.Echo("uXfer.SimDevice: " + bytes + " bytes read into " + WScript.Arguments(0));
JS
echo "\$ cscript sim.js"
host cscript.exe //nologo "$(winpath "$work/sim.js")" "$(winpath "$work/script.bin")" | tr -d '\r'
if cmp -s <(head -c 32768 "$work/image.bin") "$work/script.bin"; then
    echo "main-sim: the script read what uxfer wrote"
else
    echo "main-sim: the script's dump differs from what uxfer wrote" >&2
    exit 1
fi
