#!/usr/bin/env bash
# Headless part of the main job for the dump tool.  Needs a built tree whose
# test bed is up (scripts/testbed.sh start <build-dir>).
#
#   scripts/main-dumptool.sh <build-dir>
#
# Fills the virtual device with a recognisable background, writes DumpSet.ini
# beside Vantor.exe, presses "Write" and then "Read" in the real dialog (the
# program runs through the launcher, so the pipe shim is in it), prints each
# message, checks that the dump equals the file written, and saves a
# screenshot as <build-dir>/dumptool-main.png.
set -euo pipefail

build=${1:-}
[ -n "$build" ] || { echo "usage: $0 <build-dir>" >&2; exit 2; }
build=$(cd "$build" && pwd)
bin="$build/bin"
run="$build/wine-run"
work="$build/dumptool-main"
for f in Vantor.exe uXfer.dll vdevrun.exe vdevctl.exe vantor_drive.exe; do
    [ -f "$bin/$f" ] || { echo "main-dumptool: $bin/$f is not built" >&2; exit 1; }
done
[ -f "$build/testbed/env" ] || { echo "main-dumptool: the test bed of $build is not up" >&2; exit 1; }
. "$build/testbed/env"
export DISPLAY

winpath() { WINEPREFIX="$build/wineprefix" winepath -w "$1" 2>/dev/null; }

rm -rf "$work"
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
"$run" "$bin/vantor_drive.exe" "$(winpath "$build/dumptool-main.png")" | tr -d '\r' || status=1

if cmp -s "$work/image.bin" "$work/dump.bin"; then
    echo "main-dumptool: the dump equals the file written ($size bytes)"
else
    echo "main-dumptool: the dump differs from the file written" >&2
    status=1
fi
[ -s "$build/dumptool-main.png" ] && echo "main-dumptool: screenshot $build/dumptool-main.png"
exit $status
