#!/usr/bin/env bash
# uXfer.Device in the main job: registers uXferAuto.dll of both bitnesses and
# runs the dump samples, JScript in the 32-bit script host and VBScript in the
# 64-bit one, against the virtual device; then takes the registrations back.
# Where no 32-bit code runs, only the x64 server, with both samples in the
# 64-bit host.
# Wine's COM reads only the machine's classes, so the registration is the
# machine's here; on Windows `regsvr32 /n /i:user` is enough for one user.
#   scripts/main-automation.sh <build-dir>    (the test bed must be up)
set -euo pipefail
build=$(cd "${1:?usage: $0 <build-dir>}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
run="$build/wine-run"
work="$build/automation-main"
. "$build/testbed/env"
. "$(dirname "$0")/wine-commands.sh"
winpath() { WINEPREFIX="$build/wineprefix" winepath_cmd -w "$1" 2>/dev/null; }
# A host of each bitness, through the launcher of that bitness so that the
# pipe shim is in it.
host32() { "$run" "$build/bin/vdevrun.exe" "C:\\windows\\syswow64\\$1" "${@:2}"; }
host64() { "$run" "$build/bin/x64/vdevrun.exe" "C:\\windows\\system32\\$1" "${@:2}"; }
dll32=$(winpath "$build/bin/uXferAuto.dll")
dll64=$(winpath "$build/bin/x64/uXferAuto.dll")

unregister() {
    [ "$UXFER_RUNS_32BIT" = 1 ] && { host32 regsvr32.exe /s /u "$dll32" || true; }
    host64 regsvr32.exe /s /u "$dll64" || true
}
trap unregister EXIT
rm -rf "$work"
mkdir -p "$work"
"$run" "$build/bin/x64/vdevctl.exe" reset
[ "$UXFER_RUNS_32BIT" = 1 ] && host32 regsvr32.exe /s "$dll32"
host64 regsvr32.exe /s "$dll64"

sample() {
    local host=$1 script=$2
    local dump out
    # The dump is then written back with verification and compared.
    dump="$(winpath "$work")\\$host.bin"
    out=$($host cscript.exe //nologo "$(winpath "$root/samples/script/$script")" "$dump" "$dump" 0x1000 64K |
          tr -d '\r')
    printf '%s\n' "$out"
    case "$out" in
    *"compare: the device holds"*"dump: done") ;;
    *) echo "main-automation: $script failed" >&2; exit 1 ;;
    esac
}
if [ "$UXFER_RUNS_32BIT" = 1 ]; then
    echo "-- dump.js, 32-bit script host"
    sample host32 dump.js
else
    echo "-- dump.js, 64-bit script host"
    sample host64 dump.js
fi
echo "-- dump.vbs, 64-bit script host"
sample host64 dump.vbs
