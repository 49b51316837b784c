#!/usr/bin/env bash
# The Linux edition in the main job: the native uxfer over libusb against the
# device model served as a USB device (the USB test bed, usbbed_run), beside
# another maker's device that must receive nothing; then the same uxfer over
# the simulated devices of a folder of its own.  No Wine, no 32-bit code.
#   scripts/main-linux.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target uxfer_exe usbbed_run >/dev/null
bin="$root/build-linux/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c 200000 /dev/urandom >image.bin

echo "-- against an emulated USB device at port 1-2 (another maker's device at 1-1)"
# One bed for the commands of the script below, which shows each one first.
cat >steps.sh <<'STEPS'
show() { echo "\$ uxfer $*"; "$UXFER" "$@"; echo "(exit $?)"; }
show list
show write image.bin --addr 0x1000 --verify
show read back.bin --addr 0x1000 --size 200000
cmp -s image.bin back.bin && echo "back.bin is image.bin"
show status --json
show verify --addr 0x1000 --size 16
show status --loader-version 272
STEPS
UXFER="$bin/uxfer" "$bin/usbbed_run" --device 1-2 --foreign 1d6b:cd02@1-1 -- bash steps.sh
echo "-- a fault: the device holds the second chunk of a read (knob pend_read 2), --timeout ends it"
echo "\$ uxfer read held.bin --size 0x20000 --timeout 1"
"$bin/usbbed_run" --device 1-2 --knob 1-2:5:2 -- "$bin/uxfer" read held.bin --size 0x20000 --timeout 1 ||
    echo "(exit $?)"

echo "-- over --simulate, devices in a folder of their own"
export UXFERSIM_HOME="$work/sim"
UXFER="$bin/uxfer" bash -c '. /dev/stdin' <<'STEPS'
show() { echo "\$ uxfer $*"; "$UXFER" "$@"; echo "(exit $?)"; }
show list --simulate
show write image.bin --addr 0x1000 --verify --simulate
show sim set fail_read 1
show read back.bin --size 16 --simulate
STEPS
