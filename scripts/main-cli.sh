#!/usr/bin/env bash
# uxfer.exe in the main job: lists the virtual device, dumps a range of its
# memory with the progress line, compares the dump with what was loaded there,
# and prints the status block.
#   scripts/main-cli.sh <build-dir> [--x64]    (the test bed must be up)
# --x64 runs the x64 edition (bin/x64) instead of the 32-bit one.
set -euo pipefail
build=$(cd "${1:?usage: $0 <build-dir> [--x64]}" && pwd)
edition=""
[ "${2:-}" = --x64 ] && edition=x64
bin="$build/bin${edition:+/$edition}"
run="$build/wine-run"
work="$build/cli-main${edition:+-$edition}"
. "$build/testbed/env"
. "$(dirname "$0")/wine-commands.sh"
winpath() { WINEPREFIX="$build/wineprefix" winepath_cmd -w "$1" 2>/dev/null; }
# Through the launcher, so the pipe shim is in the tool.
uxfer() { "$run" "$bin/vdevrun.exe" "$(winpath "$bin/uxfer.exe")" "$@"; }

rm -rf "$work"
mkdir -p "$work"
words=$((4 * 1024 * 1024))  # 4 Mi device words: 4 MiB of dump, 8 MiB on the wire
addr=0x1000
# Every device word holds a counter byte and 0xFF, so the dump must be the counter.
python3 - "$work" "$words" <<'PY'
import sys
work, words = sys.argv[1], int(sys.argv[2])
ramp = bytes(range(251))  # a prime length: no two neighbouring blocks look alike
dump = (ramp * (words // len(ramp) + 1))[:words]
open(f"{work}/expected.bin", "wb").write(dump)
wire = bytearray(2 * words)
wire[0::2] = dump
wire[1::2] = b"\xff" * words
open(f"{work}/wire.bin", "wb").write(wire)
PY

"$run" "$bin/vdevctl.exe" reset
"$run" "$bin/vdevctl.exe" memsize $((2 * (0x1000 + words)))
"$run" "$bin/vdevctl.exe" load "$(winpath "$work/wire.bin")" $((2 * addr))

echo "\$ uxfer list"
uxfer list | tr -d '\r'
echo "\$ uxfer read dump.bin --addr $addr --size 4M --progress"
# Standard error is a file here, so --progress asks for the line; it is
# redrawn in place, of which the first and the last state are shown.
summary=$(uxfer read "$(winpath "$work/dump.bin")" --addr "$addr" --size 4M --progress 2>"$work/progress.txt" |
    tr -d '\r')
tr '\r' '\n' <"$work/progress.txt" | sed '/^ *$/d' | sed -n '1p;$p'
printf '%s\n' "$summary"
if cmp -s "$work/expected.bin" "$work/dump.bin"; then
    echo "main-cli: the dump equals the memory loaded ($words bytes)"
else
    echo "main-cli: the dump differs from the memory loaded" >&2
    exit 1
fi
echo "\$ uxfer status"
uxfer status | tr -d '\r'
