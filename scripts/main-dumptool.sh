#!/usr/bin/env bash
# The dump tool in the main job.  Needs a built tree whose test bed is up
# (scripts/testbed.sh start <build-dir>).
#
#   scripts/main-dumptool.sh <build-dir> [--x64] [--interactive]
#
# --x64 runs the x64 edition (bin/x64) instead of the 32-bit one.
# Fills the virtual device with a recognisable background, writes DumpSet.ini
# beside Vantor.exe (Write sends image.bin, Read dumps into dump.bin, both in
# <build-dir>/dumptool-main) and runs Vantor through the launcher, so the pipe
# shim is in it.  With --interactive the dialog is the user's until it is
# closed.  Otherwise "Write" and then "Read" are pressed in the real dialog,
# each message is printed, and a screenshot is saved as
# <build-dir>/dumptool-main.png (dumptool-main-x64.png).  Either way the dump is then compared with
# the file written.
set -euo pipefail

build=${1:-}
edition=""
[ "${2:-}" = --x64 ] && { edition=x64; shift; }
mode=${2:-}
[ -n "$build" ] && { [ -z "$mode" ] || [ "$mode" = --interactive ]; } ||
    { echo "usage: $0 <build-dir> [--x64] [--interactive]" >&2; exit 2; }
build=$(cd "$build" && pwd)
bin="$build/bin${edition:+/$edition}"
run="$build/wine-run"
work="$build/dumptool-main${edition:+-$edition}"
shot="$build/dumptool-main${edition:+-$edition}.png"
for f in Vantor.exe uXfer.dll vdevrun.exe vdevctl.exe vantor_drive.exe; do
    [ -f "$bin/$f" ] || { echo "main-dumptool: $bin/$f is not built" >&2; exit 1; }
done
[ -f "$build/testbed/env" ] || { echo "main-dumptool: the test bed of $build is not up" >&2; exit 1; }
. "$build/testbed/env"
export DISPLAY
. "$(dirname "$0")/wine-commands.sh"

winpath() { WINEPREFIX="$build/wineprefix" winepath_cmd -w "$1" 2>/dev/null; }

rm -rf "$work" "$shot"
mkdir -p "$work"
size=4096
addr=256   # device word address

# Background: every device word reads 0xEE 0xEE, so a dump that missed the
# written range shows at once.  The image: a text banner, then bytes 0..255.
head -c $((2 * (addr + size) + 512)) /dev/zero | tr '\0' '\356' >"$work/background.bin"
for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done >"$work/ramp.bin"
{
    for _ in $(seq 8); do printf 'Vantor dump tool: written through the dialog, read back through the dialog.\n'; done
    for _ in $(seq 16); do cat "$work/ramp.bin"; done
} >"$work/banner.bin"
head -c "$size" "$work/banner.bin" >"$work/image.bin"

"$run" "$bin/vdevctl.exe" reset
"$run" "$bin/vdevctl.exe" load "$(winpath "$work/background.bin")" 0

printf '[Dump]\r\nforRead=%s\r\nforWrite=%s\r\nSize=%d\r\nAddr=%d\r\nreadMode=0\r\nwriteMode=0\r\n' \
    "$(winpath "$work/image.bin")" "$(winpath "$work/dump.bin")" "$size" "$addr" >"$bin/DumpSet.ini"
echo "main-dumptool: DumpSet.ini: Size=$size Addr=$addr"

status=0
if [ "$mode" = --interactive ]; then
    echo "main-dumptool: press Write, then Read, in the Vantor dialog; close it when done"
    "$run" "$bin/vdevrun.exe" "$(winpath "$bin/Vantor.exe")" || status=1
else
    "$run" "$bin/vantor_drive.exe" "$(winpath "$shot")" | tr -d '\r' || status=1
fi

if [ ! -f "$work/dump.bin" ]; then
    echo "main-dumptool: no dump was made"
    [ "$mode" = --interactive ] || status=1
elif cmp -s "$work/image.bin" "$work/dump.bin"; then
    echo "main-dumptool: the dump equals the file written ($size bytes)"
else
    echo "main-dumptool: the dump differs from the file written" >&2
    status=1
fi
[ -s "$shot" ] && echo "main-dumptool: screenshot $shot"
exit $status
