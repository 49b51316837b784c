#!/usr/bin/env bash
# The installer in a fresh prefix with the virtual device:
#   silent install (default folder), every file in place, the uninstall entry,
#   the start-menu entries, Talvix registered as regsvr32 registers it, the
#   automation object registered for the machine in both registry views, the
#   VBScript samples (the dump sample in the 32-bit and the 64-bit script
#   host), uxfer list and Vantor Write/Read from the installed folder;
#   installing again keeps the edited DumpSet.ini and a user's own settings;
#   silent uninstall leaves no installed file or key, only a DumpSet.ini that
#   differs from the shipped one (if only in NUL bytes), the user's files and
#   their own settings, and no key of either COM server in either view;
#   install into a folder given with /D= and uninstall: nothing left at all.
#   install_test.sh <build-dir>
. "$(dirname "$0")/package_bed.sh" "$1"
start_bed install

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\uXfer Tools'
clsid='{A0C98C16-7E55-40FA-88B1-F1B87331EF27}'
talvix_keys=("HKCR\\CLSID\\$clsid" 'HKCR\Talvix.TVXDevice' 'HKCR\Talvix.TVXDevice.1'
    'HKCR\TypeLib\{33C8C283-2532-4097-BD38-DC2682CA0AA1}' 'HKCR\Interface\{FE5A284E-EBFF-406B-8F1E-F8FD27FA89DD}')
# The installer and Talvix are 32-bit: their keys are in the 32-bit view.
reg_query() { run reg query "$@" /reg:32; }
# A value's data; an empty name is the key's default value.
reg_value() {
    if [ -z "$2" ]; then
        reg_query "$1" /ve | sed -n 's/^ *(Default) *REG_[A-Z_]* *//p'
    else
        reg_query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
    fi
}
talvix_registration() {
    local key
    for key in "${talvix_keys[@]}"; do
        reg_query "$key" /s || echo "missing: $key"
    done
}
# The automation object registers itself for the machine in the view of each
# DLL's bitness: the 32-bit DLL in the 32-bit view, x64\uXferAuto.dll in the 64-bit one.
auto_clsid='{28645625-53BD-4CAC-9BF4-A3BEEE451E03}'
auto_libid='{E92473FE-3242-4159-B387-CBCCDEC70C30}'
auto_keys=("HKLM\\Software\\Classes\\CLSID\\$auto_clsid" 'HKLM\Software\Classes\uXfer.Device'
    'HKLM\Software\Classes\uXfer.Device.1' "HKLM\\Software\\Classes\\TypeLib\\$auto_libid"
    'HKLM\Software\Classes\Interface\{88EFCE31-3B52-4A6E-82EB-003367722426}'
    'HKLM\Software\Classes\Interface\{2C41B669-46D3-496D-8983-A516B6F5726A}')
# auto_registration <32|64>: the keys in that view, a "missing:" line for each absent one.
auto_registration() {
    local key
    for key in "${auto_keys[@]}"; do
        run reg query "$key" /s "/reg:$1" || echo "missing: $key"
    done
}
# auto_path <32|64> <key>: the key's default value in that view, as a path of this machine.
auto_path() {
    local data
    data=$(run reg query "$2" /ve "/reg:$1" | sed -n 's/^ *(Default) *REG_[A-Z_]* *//p')
    [ -n "$data" ] && readlink -f "$(unixpath "$data")"
}
# no_auto_keys <where>: fails when a key of the automation object is left in either view.
no_auto_keys() {
    local bits
    for bits in 32 64; do
        auto_registration "$bits" >"$work/auto-after-$bits.txt" 2>/dev/null || true
        [ "$(grep -c missing "$work/auto-after-$bits.txt")" = "${#auto_keys[@]}" ] ||
            fail "keys of uXfer.Device left in the $bits-bit view $1: $(grep -v missing "$work/auto-after-$bits.txt" | grep . | head -5)"
    done
}
shortcuts() { find "$WINEPREFIX/drive_c" -path '*Start Menu*' -path '*uXfer Tools*' -name '*.lnk' | sort; }

# What every installation must hold: the zip's tree without its README, and
# the uninstaller.
unzip -q "$zip" -d "$work/zip"
expected="$work/zip/$release-win32"
rm "$expected/README.txt"
installed_files() { (cd "$1" && find . -type f | LC_ALL=C sort); }

# Silent install into the default folder.
note "silent install"
run "$(winpath "$setup")" /S || fail "the installer failed"
wait_for 60 '[ -n "$(reg_value "$uninstall_key" UninstallString 2>/dev/null)" ]' || fail "no uninstall entry"
inst_win=$(reg_value "$uninstall_key" InstallLocation)
case "$inst_win" in
*'Program Files'*'\uXfer Tools') ;;
*) fail "installed into '$inst_win', not Program Files\\uXfer Tools" ;;
esac
inst=$(unixpath "$inst_win")
[ -d "$inst" ] || fail "no folder $inst"

note "every file in place"
diff -r "$expected" "$inst" -x uninstall.exe || fail "the installed files differ from the package"
[ -f "$inst/uninstall.exe" ] || fail "no uninstall.exe"
for f in Vantor.exe uXfer.dll uxfer.exe Talvix.dll x64/uXfer.dll DumpSet.ini docs/user-guide.html \
    docs/api-uxfer.html docs/api-talvix.html docs/images/vantor.png sdk/include/uXfer.h sdk/include/Talvix.h \
    sdk/include/talvix_records.h sdk/lib/x86/libuXfer.a sdk/lib/x86/uXfer.lib sdk/lib/x86/uXfer.def \
    sdk/lib/x64/libuXfer.a sdk/lib/x64/uXfer.lib sdk/lib/x64/uXfer.def sdk/typelib/Talvix.tlb \
    sdk/typelib/Talvix.idl sdk/samples/c/uxfer_info.c sdk/samples/c/CMakeLists.txt \
    sdk/samples/script/device_info.vbs sdk/samples/script/device_info.js sdk/samples/cli/dump.cmd \
    uXferAuto.dll x64/uXferAuto.dll docs/api-automation.html sdk/include/uXferAuto.h sdk/include/uXferAuto_i.c \
    sdk/typelib/uXferAuto.tlb sdk/typelib/uXferAuto.idl sdk/samples/automation/vtable_client.c \
    sdk/samples/automation/dispatch_client.c sdk/samples/script/dump.vbs sdk/samples/script/dump.js; do
    [ -f "$inst/$f" ] || fail "$f is not installed"
done

note "one release version: installer, uXfer.dll of both bitnesses, uxfer --version"
printf '%s\r\n' 'var files = new ActiveXObject("Scripting.FileSystemObject");' \
    'for (var i = 0; i < WScript.Arguments.length; i++) WScript.Echo(files.GetFileVersion(WScript.Arguments(i)));' \
    >"$work/version.js"
versions=$(run cscript.exe //nologo "$(winpath "$work/version.js")" "$(winpath "$setup")" "$inst_win\\uXfer.dll" \
    "$inst_win\\x64\\uXfer.dll" "$inst_win\\Vantor.exe" "$inst_win\\Talvix.dll" | tr '\n' ' ')
[ "$versions" = "$version.0 $version.0 $version.0 1.0.0.1 1.0.0.2 " ] || fail "file versions: $versions"
out=$(run "$inst/uxfer.exe" --version)
[ "$out" = "uxfer $version" ] || fail "uxfer --version printed '$out'"

note "DumpSet.ini has the folder's defaults: no write access for everyone"
run "$bed/bin/acl_probe.exe" "$inst_win\\DumpSet.ini" >"$work/acl.txt" || fail "reading the DACL of DumpSet.ini failed"
cat "$work/acl.txt"
# Neither FILE_WRITE_DATA (2) nor FILE_APPEND_DATA (4) for Everyone.
while read -r mask; do
    [ $((mask & 6)) -eq 0 ] || fail "everyone may write DumpSet.ini ($mask)"
done < <(sed -n 's/^allow S-1-1-0 //p' "$work/acl.txt")

note "uninstall entry"
[ "$(reg_value "$uninstall_key" DisplayName)" = "uXfer Tools" ] || fail "DisplayName"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$version" ] || fail "DisplayVersion"
[ -n "$(reg_value "$uninstall_key" Publisher)" ] || fail "Publisher"
size=$(reg_value "$uninstall_key" EstimatedSize)
[ $((size)) -gt 100 ] || fail "EstimatedSize '$size'"
[ "$(reg_value "$uninstall_key" UninstallString)" = "\"$inst_win\\uninstall.exe\"" ] || fail "UninstallString"

note "start menu"
[ "$(shortcuts | sed 's#.*/##' | tr '\n' ' ')" = "User Guide.lnk Vantor.lnk " ] || fail "start-menu entries: $(shortcuts)"

note "Talvix registered as regsvr32 registers it"
talvix_registration >"$work/reg-installer.txt"
if grep -q missing "$work/reg-installer.txt"; then fail "$(grep missing "$work/reg-installer.txt")"; fi
server=$(reg_value "HKCR\\CLSID\\$clsid\\InprocServer32" "")
[ "$(readlink -f "$(unixpath "$server")")" = "$(readlink -f "$inst/Talvix.dll")" ] ||
    fail "InprocServer32 '$server' is not the installed Talvix.dll"
run regsvr32 /s /u "$inst_win\\Talvix.dll" || fail "regsvr32 /u"
talvix_registration >"$work/reg-unregistered.txt" 2>/dev/null
grep -q "missing: HKCR\\\\CLSID" "$work/reg-unregistered.txt" || fail "regsvr32 /u left the class"
run regsvr32 /s "$inst_win\\Talvix.dll" || fail "regsvr32"
talvix_registration >"$work/reg-regsvr32.txt"
diff "$work/reg-installer.txt" "$work/reg-regsvr32.txt" || fail "the installer's registration differs from regsvr32's"

note "uXfer.Device registered for the machine, each DLL in the view of its bitness"
for bits in 32 64; do
    auto_registration "$bits" >"$work/auto-installer-$bits.txt"
    if grep -q missing "$work/auto-installer-$bits.txt"; then fail "$bits-bit view: $(grep missing "$work/auto-installer-$bits.txt")"; fi
done
dll32=$(readlink -f "$inst/uXferAuto.dll")
dll64=$(readlink -f "$inst/x64/uXferAuto.dll")
[ "$(auto_path 32 "${auto_keys[0]}\\InprocServer32")" = "$dll32" ] || fail "the 32-bit InprocServer32 is not the installed uXferAuto.dll"
[ "$(auto_path 64 "${auto_keys[0]}\\InprocServer32")" = "$dll64" ] || fail "the 64-bit InprocServer32 is not the installed x64\\uXferAuto.dll"
[ "$(auto_path 32 "${auto_keys[3]}\\1.0\\0\\win32")" = "$dll32" ] || fail "the win32 type library is not the installed uXferAuto.dll"
[ "$(auto_path 64 "${auto_keys[3]}\\1.0\\0\\win64")" = "$dll64" ] || fail "the win64 type library is not the installed x64\\uXferAuto.dll"

note "the dump sample of uXfer.Device in the 32-bit and the 64-bit script host"
run "$bed/bin/vdevctl.exe" reset >/dev/null
for host in '32 . C:\windows\syswow64\cscript.exe' '64 x64 C:\windows\system32\cscript.exe'; do
    read -r bits launcher cscript <<<"$host"
    # A 64-bit host starts only from a 64-bit process: the launcher of that bitness.
    out=$(run "$bed/bin/$launcher/vdevrun.exe" "$cscript" //nologo "$inst_win\\sdk\\samples\\script\\dump.vbs" \
        "$(winpath "$work/auto$bits.bin")")
    echo "$out"
    case "$out" in
    *"compare: the device holds"*"dump: done") ;;
    *) fail "the dump sample failed in the $bits-bit script host" ;;
    esac
    [ "$(stat -c %s "$work/auto$bits.bin")" = 4096 ] || fail "the $bits-bit dump sample wrote no 4 KiB dump"
done

note "VBScript sample from the installed folder"
run "$bed/bin/vdevctl.exe" reset >/dev/null
out=$(run "$bed/bin/vdevrun.exe" cscript.exe //nologo "$inst_win\\sdk\\samples\\script\\device_info.vbs")
echo "$out"
case "$out" in
*"bcdDevice: 0x"[0-9A-F][0-9A-F][0-9A-F][0-9A-F]*"device_info: done"*) ;;
*) fail "the VBScript sample did not identify the device" ;;
esac

note "uxfer list from the installed folder"
out=$(run "$bed/bin/vdevrun.exe" "$inst_win\\uxfer.exe" list)
echo "$out"
echo "$out" | grep -Eqi '^0 +\\\\\?\\root#' || fail "uxfer list did not list the device"

note "Vantor Write and Read from the installed folder"
size=4096
addr=256
head -c $((2 * (addr + size) + 512)) /dev/zero | tr '\0' '\356' >"$work/background.bin"
head -c "$size" /dev/urandom >"$work/image.bin"
run "$bed/bin/vdevctl.exe" reset >/dev/null
run "$bed/bin/vdevctl.exe" load "$(winpath "$work/background.bin")" 0 >/dev/null
printf '[Dump]\r\nforRead=%s\r\nforWrite=%s\r\nSize=%d\r\nAddr=%d\r\nreadMode=0\r\nwriteMode=0\r\n' \
    "$(winpath "$work/image.bin")" "$(winpath "$work/dump.bin")" "$size" "$addr" >"$inst/DumpSet.ini"
run "$bed/bin/vantor_drive.exe" "$(winpath "$work/vantor.png")" "$inst_win" || fail "Vantor's Write or Read failed"
cmp "$work/image.bin" "$work/dump.bin" || fail "the dump differs from the file written"
cp "$inst/DumpSet.ini" "$work/DumpSet.edited"
echo "user's dump" >"$inst/my-dump.bin"

note "installing again keeps the edited DumpSet.ini and a user's own settings"
own="$(unixpath "$(run cmd /c echo %APPDATA%)")/uXfer Tools/DumpSet.ini"
mkdir -p "$(dirname "$own")"
printf '[Dump]\r\nforWrite=C:\\mine.bin\r\n' >"$own"
cp "$own" "$work/own.ini"
run "$(winpath "$setup")" /S || fail "the second install failed"
cmp "$work/DumpSet.edited" "$inst/DumpSet.ini" || fail "the second install replaced the edited DumpSet.ini"
cmp "$work/own.ini" "$own" || fail "the second install changed the user's own settings"
diff -r "$expected" "$inst" -x uninstall.exe -x DumpSet.ini -x my-dump.bin || fail "files differ after the second install"

note "silent uninstall, DumpSet.ini as shipped but for NUL bytes in it and after it"
{ head -c 10 "$expected/DumpSet.ini"; printf '\0'; tail -c +11 "$expected/DumpSet.ini"; head -c 2000 /dev/zero; } \
    >"$inst/DumpSet.ini"
cp "$inst/DumpSet.ini" "$work/DumpSet.edited"
run "$inst/uninstall.exe" /S || fail "the uninstaller failed"
wait_for 120 '[ ! -f "$inst/uninstall.exe" ]' || fail "uninstall.exe is still there"
wait_for 60 '! reg_query "$uninstall_key" >/dev/null 2>&1' || fail "the uninstall entry is still there"
left=$(installed_files "$inst" | tr '\n' ' ')
[ "$left" = "./DumpSet.ini ./my-dump.bin " ] || fail "left after uninstall: $left"
cmp "$work/DumpSet.edited" "$inst/DumpSet.ini" || fail "the uninstaller changed the edited DumpSet.ini"
cmp "$work/own.ini" "$own" || fail "the uninstaller changed the user's own settings"
[ -z "$(shortcuts)" ] || fail "start-menu entries left: $(shortcuts)"
talvix_registration >"$work/reg-after.txt" 2>/dev/null || true
[ "$(grep -c missing "$work/reg-after.txt")" = "${#talvix_keys[@]}" ] ||
    fail "Talvix keys left: $(grep -v missing "$work/reg-after.txt" | head -5)"
no_auto_keys "after the uninstall"
rm -rf "$inst"

note "install with /D= into a folder of its own, uninstall: nothing left"
inst_win='C:\Tools\uXfer Tools'
inst=$(unixpath "$inst_win")
# /D= takes the rest of the command line as it stands, blanks included and
# without quotes: through cmd, which passes it on unquoted.
run cmd /c "$(winpath "$setup") /S /D=$inst_win" || fail "the install with /D= failed"
location=$(reg_value "$uninstall_key" InstallLocation)
[ "$location" = "$inst_win" ] || fail "InstallLocation after /D= is '$location'"
diff -r "$expected" "$inst" -x uninstall.exe || fail "the installed files differ from the package (/D=)"
run "$inst/uninstall.exe" /S || fail "the uninstaller failed (/D=)"
wait_for 120 '[ ! -e "$inst" ]' || fail "left after uninstall: $(installed_files "$inst" | tr '\n' ' ')"
reg_query "$uninstall_key" >/dev/null 2>&1 && fail "the uninstall entry is still there (/D=)"
no_auto_keys "after the uninstall (/D=)"
echo "package_install: passed"
