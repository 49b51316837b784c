#!/usr/bin/env bash
# The parity table: the same uxfer commands on Windows (the x64 uxfer.exe
# against the virtual device, with Wine reporting Windows XP to it, so that
# uXfer.dll polls the status around each command as the Linux link does) and
# on Linux (the native uxfer over libusb against the same device model served
# as a USB device) must leave the same device log and the same files.  The
# opens and closes of the device, which each system's stack does its own way,
# and the log's sequence numbers are left out of the comparison.
#   scripts/parity.sh <build-dir>    (the win64 test bed must be up; the
#                                     Linux edition built in build-linux)
set -euo pipefail
build=$(cd "${1:?usage: $0 <build-dir>}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
. "$build/testbed/env"
. "$root/scripts/wine-commands.sh"
run="$build/x64/wine-run"
bin="$build/bin/x64"
linux="$root/build-linux/bin"
work="$build/parity"
rm -rf "$work"
mkdir -p "$work/windows" "$work/linux"
winpath() { WINEPREFIX="$build/wineprefix" winepath_cmd -w "$1" 2>/dev/null; }
export WINEDEBUG=-all
python3 -c "import os; open('$work/in.bin','wb').write(bytes((i*7+i//251)&255 for i in range(200001)))"
python3 -c "import os; b=bytearray(open('$work/in.bin','rb').read()[:200000]); b[17]^=1; open('$work/changed.bin','wb').write(b)"

# name|arguments (FILE names are relative to the system's folder)
steps=(
    "write --verify|write in.bin --addr 0x100 --size 200000 --verify"
    "read|read out.bin --addr 0x100 --size 200000"
    "odd read|read odd.bin --addr 0x101 --size 7"
    "raw read|read raw.bin --addr 0x100 --size 40 --raw --no-reset"
    "compare, equal|compare in.bin --addr 0x100 --size 200000"
    "compare, different|compare changed.bin --addr 0x100"
    "verify|verify --addr 0x100 --size 16"
    "status|status"
    "reset|reset 5"
)

# The log of the step, without opens, closes and sequence numbers.
normal() { sed -E 's/^#[0-9]+ //' | grep -vE '^(OPEN|CLOSE) ' || true; }

# Windows: one step at a time, each step's part of the device log.
"$run" "$bin/vdevctl.exe" reset >/dev/null
"$run" reg add 'HKCU\Software\Wine\AppDefaults\uxfer.exe' /v Version /d winxp /f >/dev/null 2>&1
trap '"$run" reg delete "HKCU\\Software\\Wine\\AppDefaults\\uxfer.exe" /f >/dev/null 2>&1 || true' EXIT
cp "$work/in.bin" "$work/changed.bin" "$work/windows/"
for step in "${steps[@]}"; do
    name=${step%%|*}
    read -r -a args <<<"${step#*|}"
    first=$("$run" "$bin/vdevctl.exe" log | wc -l)
    (cd "$work/windows" && "$run" "$bin/vdevrun.exe" "$(winpath "$bin/uxfer.exe")" "${args[@]}" >"$name.out" 2>&1
        echo $? >"$name.exit") || true
    "$run" "$bin/vdevctl.exe" log | tr -d '\r' | tail -n +$((first + 1)) | normal >"$work/windows/$name.log"
done

# Linux: the same steps on one bed, a log of its own after each.
cp "$work/in.bin" "$work/changed.bin" "$work/linux/"
for step in "${steps[@]}"; do echo "${step#*|}"; done >"$work/linux/steps"
(cd "$work/linux" && "$linux/usbbed_run" --device 1-2 --log all.log -- bash -c '
    n=0
    while read -r line; do
        n=$((n + 1))
        # shellcheck disable=SC2086
        "$0" $line >"step$n.out" 2>&1; echo $? >"step$n.exit"
    done <steps' "$linux/uxfer") >/dev/null
# The bed's log comes whole: split it where each step's first request is,
# the commands of the Windows log in the same order.
status=0
printf '%-20s %-9s %-9s %s\n' step windows linux "log and files"
n=0
linux_log=$(normal <"$work/linux/all.log")
for step in "${steps[@]}"; do
    name=${step%%|*}
    n=$((n + 1))
    win_log="$work/windows/$name.log"
    lines=$(wc -l <"$win_log")
    # The Linux log's next records, as many as the Windows step left.
    printf '%s\n' "$linux_log" | head -n "$lines" >"$work/linux/$name.log"
    linux_log=$(printf '%s\n' "$linux_log" | tail -n +$((lines + 1)))
    verdict=same
    cmp -s "$win_log" "$work/linux/$name.log" || verdict="logs differ"
    wexit=$(cat "$work/windows/$name.exit"); lexit=$(cat "$work/linux/step$n.exit")
    [ "$wexit" = "$lexit" ] || verdict="exit codes differ"
    printf '%-20s %-9s %-9s %s\n' "$name" "$wexit" "$lexit" "$verdict"
    [ "$verdict" = same ] || status=1
done
[ -z "$linux_log" ] || { echo "parity: the Linux log has $(printf '%s\n' "$linux_log" | wc -l) records more"; status=1; }
for file in out.bin odd.bin raw.bin; do
    if cmp -s "$work/windows/$file" "$work/linux/$file"; then echo "$file: same on both"; else echo "$file: differs"; status=1; fi
done
exit $status
