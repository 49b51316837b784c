#!/usr/bin/env bash
# The SDK alone, copied out of the zip into a folder outside the source tree,
# for each bitness: the C sample builds with MinGW-w64 against the SDK's
# header and libuXfer.a and runs against the virtual device; a client
# compiled for the MSVC target links with lld-link against the SDK's
# uXfer.lib and runs; the automation sample built against the SDK's
# uXferAuto.h runs against the package's uXferAuto.dll of that bitness,
# registered by the regsvr32 of that bitness.  The x86 half only where 32-bit
# programs run.  The zip carries both editions of the programs.
#   sdk_test.sh <build-dir>
. "$(dirname "$0")/package_bed.sh" "$1"
start_bed sdk
alone=$(mktemp -d)
trap '"$root/scripts/testbed.sh" stop "$bed" >/dev/null; rm -rf "$alone"' EXIT

unzip -q "$zip" -d "$work/zip"
package="$work/zip/$release-win32"
cp -r "$package/sdk" "$alone/sdk"

note "no path of the build machine in the package"
if grep -rlF "$root" "$package"; then fail "the files above name the source or build tree"; fi

note "both editions of the programs in the zip"
for f in Vantor.exe uxfer.exe uXfer.dll uXferAuto.dll uXferSim.dll uXferAutoSim.dll DumpSet.ini Talvix.dll \
    x64/Vantor.exe x64/uxfer.exe x64/uXfer.dll x64/uXferAuto.dll x64/uXferSim.dll x64/uXferAutoSim.dll \
    x64/DumpSet.ini; do
    [ -f "$package/$f" ] || fail "the zip has no $f"
done
cmp "$package/DumpSet.ini" "$package/x64/DumpSet.ini" || fail "the editions' DumpSet.ini differ"

# The device's first 16 words: bytes 0x00 .. 0x1F.
for i in $(seq 0 31); do printf "\\$(printf %03o "$i")"; done >"$work/words.bin"
run "$tools/vdevctl.exe" reset >/dev/null
run "$tools/vdevctl.exe" load "$(winpath "$work/words.bin")" 0 >/dev/null

# check_bitness <x86|x64> <MinGW triplet> <clang target> <package folder of uXfer.dll> <tools folder>
check_bitness() {
    local arch=$1 triplet=$2 target=$3 dll="$package/$4/uXfer.dll" launcher=$5/vdevrun.exe
    local out c="$alone/build-c-$arch" l="$alone/build-lld-$arch"

    note "$arch: the C sample with MinGW-w64 and libuXfer.a"
    cat >"$alone/$arch.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER $triplet-gcc-posix)
set(CMAKE_RC_COMPILER $triplet-windres)
TOOLCHAIN
    cmake -S "$alone/sdk/samples/c" -B "$c" -DCMAKE_TOOLCHAIN_FILE="$alone/$arch.cmake" >/dev/null ||
        fail "configuring the C sample failed"
    cmake --build "$c" || fail "building the C sample failed"
    cp "$dll" "$c/"
    # The sample needs the pipes, which a program reaches under Wine only through the launcher.
    out=$(run "$launcher" "$(winpath "$c/uxfer_info.exe")") || fail "uxfer_info failed: $out"
    echo "$out"
    echo "$out" | grep -qx 'devices present: 1' || fail "uxfer_info did not count the device"
    echo "$out" | grep -qx 'memory: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F' ||
        fail "uxfer_info did not read the device's memory"
    echo "$out" | grep -qx 'uxfer_info: done' || fail "uxfer_info stopped early"

    note "$arch: an MSVC-target client linked by lld-link against uXfer.lib"
    mkdir -p "$l"
    # Windows headers for the MSVC target: Wine's, which support it.
    clang --target="$target" -O1 -c -I"$alone/sdk/include" \
        -isystem /usr/include/wine/wine/msvcrt -isystem /usr/include/wine/wine/windows \
        "$root/tests/package/msvc_client.c" -o "$l/client.obj" || fail "compiling the client failed"
    # The system's import libraries come from MinGW-w64; they carry no SEH tables.
    lld-link /nologo /subsystem:console /entry:client_main /nodefaultlib $([ "$arch" = x86 ] && echo /safeseh:no) \
        "$l/client.obj" "$alone/sdk/lib/$arch/uXfer.lib" \
        "/usr/$triplet/lib/libkernel32.a" "/usr/$triplet/lib/libuser32.a" \
        "/out:$l/client.exe" || fail "lld-link failed"
    cp "$dll" "$l/"
    out=$(run "$(winpath "$l/client.exe")") || fail "the lld-link client failed: $out"
    echo "$out"
    [ "$out" = "instances: 1" ] || fail "the lld-link client did not count the device"

    note "$arch: the automation sample with MinGW-w64 and uXferAuto.h"
    local a="$alone/build-auto-$arch" system
    mkdir -p "$a"
    "$triplet-gcc-posix" -municode -I"$alone/sdk/include" "$alone/sdk/samples/automation/vtable_client.c" \
        -lole32 -loleaut32 -luuid -o "$a/vtable_client.exe" || fail "building the automation sample failed"
    # From a process of the DLL's bitness, System32 is the system folder of that bitness.
    system='C:\windows\system32'
    out=$(run "$launcher" "$system\\regsvr32.exe" /s "$(winpath "$package/$4/uXferAuto.dll")") ||
        fail "regsvr32 of the $arch uXferAuto.dll failed: $out"
    # Words 0x100 on: the default format writes each word back with 0xFF as its
    # second byte, and the first 16 words must stay as loaded.
    out=$(run "$launcher" "$(winpath "$a/vtable_client.exe")" "$(winpath "$a/dump.bin")" 0x100 256) ||
        fail "the automation sample failed: $out"
    echo "$out"
    echo "$out" | grep -q 'compare: the device holds' || fail "the automation sample did not compare"
    run "$launcher" "$system\\regsvr32.exe" /s /u "$(winpath "$package/$4/uXferAuto.dll")" >/dev/null ||
        fail "regsvr32 /u of the $arch uXferAuto.dll failed"
}

check_bitness x64 x86_64-w64-mingw32 x86_64-pc-windows-msvc x64 "$tools"
if [ "$UXFER_RUNS_32BIT" = 1 ]; then
    check_bitness x86 i686-w64-mingw32 i686-pc-windows-msvc . "$tools32"
else
    skipped_32bit "the x86 half of the SDK (C sample, lld-link client, automation sample)"
fi
echo "package_sdk: passed"
