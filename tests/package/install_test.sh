#!/usr/bin/env bash
# The 64-bit installer in a fresh prefix with the virtual device:
#   silent install (the 64-bit Program Files), every file in place, the
#   uninstall entry, the start-menu entries, the automation object registered
#   for the machine, the dump sample in the script host, uxfer --version and
#   list and Vantor Write/Read from the installed folder, each for the x64
#   edition and, where 32-bit programs run, the 32-bit one (with Talvix
#   registered as regsvr32 registers it and its VBScript sample); elsewhere
#   the 32-bit programs must be left out;
#   installing again keeps the edited DumpSet.ini files and a user's own settings;
#   silent uninstall leaves no installed file or key, only a DumpSet.ini that
#   differs from the shipped one (if only in NUL bytes), the user's files and
#   their own settings, and no key of either COM server in either view;
#   install into a folder given with /D=; over an installation of the earlier
#   32-bit installer (its entry in the 32-bit view): into its folder, one
#   entry left; uninstall: nothing left at all.
#   install_test.sh <build-dir>
. "$(dirname "$0")/package_bed.sh" "$1"
start_bed install

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\uXfer Tools'
clsid='{A0C98C16-7E55-40FA-88B1-F1B87331EF27}'
talvix_keys=("HKCR\\CLSID\\$clsid" 'HKCR\Talvix.TVXDevice' 'HKCR\Talvix.TVXDevice.1'
    'HKCR\TypeLib\{33C8C283-2532-4097-BD38-DC2682CA0AA1}' 'HKCR\Interface\{FE5A284E-EBFF-406B-8F1E-F8FD27FA89DD}')
# The installer is 64-bit: its entry is in the 64-bit view.
reg_query() { run reg query "$@" /reg:64; }
# A value's data; an empty name is the key's default value.
reg_value() {
    if [ -z "$2" ]; then
        reg_query "$1" /ve | sed -n 's/^ *(Default) *REG_[A-Z_]* *//p'
    else
        reg_query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
    fi
}
# Talvix is 32-bit: its keys are in the 32-bit view.
talvix_registration() {
    local key
    for key in "${talvix_keys[@]}"; do
        run reg query "$key" /s /reg:32 || echo "missing: $key"
    done
}
# The automation object registers itself for the machine in the view of each
# DLL's bitness: the 32-bit DLL in the 32-bit view, x64\uXferAuto.dll in the 64-bit one;
# uXfer.SimDevice of uXferAutoSim.dll beside it likewise.
auto_clsid='{28645625-53BD-4CAC-9BF4-A3BEEE451E03}'
sim_clsid='{39791A1B-43B7-4927-8E35-5FF3D00BC393}'
auto_libid='{E92473FE-3242-4159-B387-CBCCDEC70C30}'
auto_keys=("HKLM\\Software\\Classes\\CLSID\\$auto_clsid" 'HKLM\Software\Classes\uXfer.Device'
    'HKLM\Software\Classes\uXfer.Device.1' "HKLM\\Software\\Classes\\TypeLib\\$auto_libid"
    'HKLM\Software\Classes\Interface\{88EFCE31-3B52-4A6E-82EB-003367722426}'
    'HKLM\Software\Classes\Interface\{2C41B669-46D3-496D-8983-A516B6F5726A}'
    "HKLM\\Software\\Classes\\CLSID\\$sim_clsid" 'HKLM\Software\Classes\uXfer.SimDevice'
    'HKLM\Software\Classes\uXfer.SimDevice.1')
# auto_registration <32|64>: the keys in that view, a "missing:" line for each absent one.
auto_registration() {
    local key
    for key in "${auto_keys[@]}"; do
        run reg query "$key" /s "/reg:$1" || echo "missing: $key"
    done
}
# key_path <32|64> <key>: the key's default value in that view, as a path of this machine.
key_path() {
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
# The editions installed: their folders in the installation, x64 first.
editions=(x64)
[ "$UXFER_RUNS_32BIT" = 1 ] && editions+=(.)
# edition_tools <folder>: the test tools of that edition's bitness.
edition_tools() { if [ "$1" = x64 ]; then echo "$tools"; else echo "$tools32"; fi; }
# edition_win <folder>: the edition's folder in Windows form.
edition_win() { if [ "$1" = . ]; then echo "$inst_win"; else echo "$inst_win\\$1"; fi; }
[ "$UXFER_RUNS_32BIT" = 1 ] || skipped_32bit "the 32-bit programs, Talvix registration and its sample," \
    "the 32-bit uxfer, Vantor and script host"
shortcuts() { find "$WINEPREFIX/drive_c" -path '*Start Menu*' -path '*uXfer Tools*' -name '*.lnk' | sort; }

# What every installation must hold: the zip's tree without its README, and
# the uninstaller; without the 32-bit programs where they don't run.
unzip -q "$zip" -d "$work/zip"
expected="$work/zip/$release-win32"
rm "$expected/README.txt"
programs32=(Vantor.exe uxfer.exe Talvix.dll uXfer.dll uXferAuto.dll uXferSim.dll uXferAutoSim.dll DumpSet.ini)
for f in "${programs32[@]}"; do
    [ -f "$expected/$f" ] || fail "the zip has no $f"
    [ "$UXFER_RUNS_32BIT" = 1 ] || rm "$expected/$f"
done
installed_files() { (cd "$1" && find . -type f | LC_ALL=C sort); }

# Silent install into the default folder.
note "silent install"
run "$(winpath "$setup")" /S || fail "the installer failed"
wait_for 60 '[ -n "$(reg_value "$uninstall_key" UninstallString 2>/dev/null)" ]' || fail "no uninstall entry"
inst_win=$(reg_value "$uninstall_key" InstallLocation)
case "$inst_win" in
*':\Program Files\uXfer Tools') ;;
*) fail "installed into '$inst_win', not the 64-bit Program Files\\uXfer Tools" ;;
esac
inst=$(unixpath "$inst_win")
[ -d "$inst" ] || fail "no folder $inst"

note "every file in place"
diff -r "$expected" "$inst" -x uninstall.exe || fail "the installed files differ from the package"
[ -f "$inst/uninstall.exe" ] || fail "no uninstall.exe"
for f in x64/Vantor.exe x64/uxfer.exe x64/uXfer.dll x64/uXferAuto.dll x64/uXferSim.dll x64/uXferAutoSim.dll \
    x64/DumpSet.ini docs/user-guide.html \
    docs/api-uxfer.html docs/api-talvix.html docs/images/vantor.png sdk/include/uXfer.h sdk/include/Talvix.h \
    sdk/include/talvix_records.h sdk/lib/x86/libuXfer.a sdk/lib/x86/uXfer.lib sdk/lib/x86/uXfer.def \
    sdk/lib/x64/libuXfer.a sdk/lib/x64/uXfer.lib sdk/lib/x64/uXfer.def sdk/typelib/Talvix.tlb \
    sdk/typelib/Talvix.idl sdk/samples/c/uxfer_info.c sdk/samples/c/CMakeLists.txt \
    sdk/samples/script/device_info.vbs sdk/samples/script/device_info.js sdk/samples/cli/dump.cmd \
    docs/api-automation.html sdk/include/uXferAuto.h sdk/include/uXferAuto_i.c \
    sdk/typelib/uXferAuto.tlb sdk/typelib/uXferAuto.idl sdk/samples/automation/vtable_client.c \
    sdk/samples/automation/dispatch_client.c sdk/samples/script/dump.vbs sdk/samples/script/dump.js; do
    [ -f "$inst/$f" ] || fail "$f is not installed"
done
for f in "${programs32[@]}"; do
    if [ "$UXFER_RUNS_32BIT" = 1 ]; then
        [ -f "$inst/$f" ] || fail "$f is not installed"
    else
        [ ! -e "$inst/$f" ] || fail "$f is installed where 32-bit programs don't run"
    fi
done

note "one release version: installer, uXfer.dll and Vantor of each edition, uxfer --version"
printf '%s\r\n' 'var files = new ActiveXObject("Scripting.FileSystemObject");' \
    'for (var i = 0; i < WScript.Arguments.length; i++) WScript.Echo(files.GetFileVersion(WScript.Arguments(i)));' \
    >"$work/version.js"
files=("$(winpath "$setup")") want="$version.0"
for e in "${editions[@]}"; do
    files+=("$(edition_win "$e")\\uXfer.dll" "$(edition_win "$e")\\Vantor.exe") want+=" $version.0 1.0.0.1"
done
[ "$UXFER_RUNS_32BIT" = 1 ] && files+=("$inst_win\\Talvix.dll") want+=" 1.0.0.2"
versions=$(run cscript.exe //nologo "$(winpath "$work/version.js")" "${files[@]}" | tr '\n' ' ')
[ "$versions" = "$want " ] || fail "file versions: $versions (wanted $want)"
for e in "${editions[@]}"; do
    out=$(run "$inst/$e/uxfer.exe" --version)
    [ "$out" = "uxfer $version" ] || fail "$e/uxfer --version printed '$out'"
done

note "each DumpSet.ini has the folder's defaults: no write access for everyone"
for e in "${editions[@]}"; do
    run "$tools/acl_probe.exe" "$(edition_win "$e")\\DumpSet.ini" >"$work/acl.txt" ||
        fail "reading the DACL of $e/DumpSet.ini failed"
    cat "$work/acl.txt"
    # Neither FILE_WRITE_DATA (2) nor FILE_APPEND_DATA (4) for Everyone.
    while read -r mask; do
        [ $((mask & 6)) -eq 0 ] || fail "everyone may write $e/DumpSet.ini ($mask)"
    done < <(sed -n 's/^allow S-1-1-0 //p' "$work/acl.txt")
done

note "uninstall entry"
[ "$(reg_value "$uninstall_key" DisplayName)" = "uXfer Tools" ] || fail "DisplayName"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$version" ] || fail "DisplayVersion"
[ -n "$(reg_value "$uninstall_key" Publisher)" ] || fail "Publisher"
size=$(reg_value "$uninstall_key" EstimatedSize)
[ $((size)) -gt 100 ] || fail "EstimatedSize '$size'"
[ "$(reg_value "$uninstall_key" UninstallString)" = "\"$inst_win\\uninstall.exe\"" ] || fail "UninstallString"
# The Vantor shown: the 32-bit one where it is installed, else the x64 one.
vantor_win="$(edition_win "${editions[-1]}")\\Vantor.exe"
[ "$(reg_value "$uninstall_key" DisplayIcon)" = "$vantor_win" ] || fail "DisplayIcon is not $vantor_win"

note "start menu"
[ "$(shortcuts | sed 's#.*/##' | tr '\n' ' ')" = "User Guide.lnk Vantor.lnk " ] || fail "start-menu entries: $(shortcuts)"
# The link holds its target's path (as text of one or two bytes a character).
tr -d '\0' <"$(shortcuts | grep 'Vantor.lnk$')" | grep -qaiF "$vantor_win" || fail "Vantor.lnk does not point at $vantor_win"

if [ "$UXFER_RUNS_32BIT" = 1 ]; then
    note "Talvix registered as regsvr32 registers it"
    talvix_registration >"$work/reg-installer.txt"
    if grep -q missing "$work/reg-installer.txt"; then fail "$(grep missing "$work/reg-installer.txt")"; fi
    server=$(key_path 32 "HKCR\\CLSID\\$clsid\\InprocServer32")
    [ "$server" = "$(readlink -f "$inst/Talvix.dll")" ] || fail "InprocServer32 '$server' is not the installed Talvix.dll"
    regsvr32='C:\windows\syswow64\regsvr32.exe'
    run "$regsvr32" /s /u "$inst_win\\Talvix.dll" || fail "regsvr32 /u"
    talvix_registration >"$work/reg-unregistered.txt" 2>/dev/null
    grep -q "missing: HKCR\\\\CLSID" "$work/reg-unregistered.txt" || fail "regsvr32 /u left the class"
    run "$regsvr32" /s "$inst_win\\Talvix.dll" || fail "regsvr32"
    talvix_registration >"$work/reg-regsvr32.txt"
    diff "$work/reg-installer.txt" "$work/reg-regsvr32.txt" || fail "the installer's registration differs from regsvr32's"
else
    talvix_registration >"$work/reg-installer.txt" 2>/dev/null || true
    [ "$(grep -c missing "$work/reg-installer.txt")" = "${#talvix_keys[@]}" ] ||
        fail "Talvix keys written where 32-bit programs don't run"
fi

note "uXfer.Device registered for the machine, each DLL in the view of its bitness"
for e in "${editions[@]}"; do
    if [ "$e" = x64 ]; then bits=64 dll=$(readlink -f "$inst/x64/uXferAuto.dll"); else bits=32 dll=$(readlink -f "$inst/uXferAuto.dll"); fi
    auto_registration "$bits" >"$work/auto-installer-$bits.txt"
    if grep -q missing "$work/auto-installer-$bits.txt"; then fail "$bits-bit view: $(grep missing "$work/auto-installer-$bits.txt")"; fi
    [ "$(key_path "$bits" "${auto_keys[0]}\\InprocServer32")" = "$dll" ] || fail "the $bits-bit InprocServer32 is not the installed $e/uXferAuto.dll"
    [ "$(key_path "$bits" "${auto_keys[6]}\\InprocServer32")" = "$(dirname "$dll")/uXferAutoSim.dll" ] ||
        fail "the $bits-bit InprocServer32 of uXfer.SimDevice is not the installed $e/uXferAutoSim.dll"
    [ "$(key_path "$bits" "${auto_keys[3]}\\1.0\\0\\win$bits")" = "$dll" ] || fail "the win$bits type library is not the installed $e/uXferAuto.dll"
done
if [ "$UXFER_RUNS_32BIT" != 1 ]; then
    # The type library's key is one for both views.
    [ -z "$(key_path 32 "${auto_keys[0]}\\InprocServer32")$(key_path 32 "${auto_keys[3]}\\1.0\\0\\win32")" ] ||
        fail "the 32-bit uXfer.Device is registered where 32-bit programs don't run"
fi

note "the dump sample of uXfer.Device in the script host of each edition"
run "$tools/vdevctl.exe" reset >/dev/null
for e in "${editions[@]}"; do
    if [ "$e" = x64 ]; then bits=64 cscript='C:\windows\system32\cscript.exe'; else bits=32 cscript='C:\windows\syswow64\cscript.exe'; fi
    # A 64-bit host starts only from a 64-bit process: the launcher of that bitness.
    out=$(run "$(edition_tools "$e")/vdevrun.exe" "$cscript" //nologo "$inst_win\\sdk\\samples\\script\\dump.vbs" \
        "$(winpath "$work/auto$bits.bin")")
    echo "$out"
    case "$out" in
    *"compare: the device holds"*"dump: done") ;;
    *) fail "the dump sample failed in the $bits-bit script host" ;;
    esac
    [ "$(stat -c %s "$work/auto$bits.bin")" = 4096 ] || fail "the $bits-bit dump sample wrote no 4 KiB dump"
done

if [ "$UXFER_RUNS_32BIT" = 1 ]; then
    note "Talvix's VBScript sample from the installed folder"
    run "$tools/vdevctl.exe" reset >/dev/null
    out=$(run "$tools32/vdevrun.exe" 'C:\windows\syswow64\cscript.exe' //nologo "$inst_win\\sdk\\samples\\script\\device_info.vbs")
    echo "$out"
    case "$out" in
    *"bcdDevice: 0x"[0-9A-F][0-9A-F][0-9A-F][0-9A-F]*"device_info: done"*) ;;
    *) fail "the VBScript sample did not identify the device" ;;
    esac
fi

for e in "${editions[@]}"; do
    note "uxfer list from the installed folder ($e)"
    out=$(run "$(edition_tools "$e")/vdevrun.exe" "$(edition_win "$e")\\uxfer.exe" list)
    echo "$out"
    echo "$out" | grep -Eqi '^0 +\\\\\?\\root#' || fail "$e/uxfer list did not list the device"
done

size=4096
addr=256
head -c $((2 * (addr + size) + 512)) /dev/zero | tr '\0' '\356' >"$work/background.bin"
for e in "${editions[@]}"; do
    note "Vantor Write and Read from the installed folder ($e), as the DumpSet.ini beside it says"
    head -c "$size" /dev/urandom >"$work/image.bin"
    run "$tools/vdevctl.exe" reset >/dev/null
    run "$tools/vdevctl.exe" load "$(winpath "$work/background.bin")" 0 >/dev/null
    printf '[Dump]\r\nforRead=%s\r\nforWrite=%s\r\nSize=%d\r\nAddr=%d\r\nreadMode=0\r\nwriteMode=0\r\n' \
        "$(winpath "$work/image.bin")" "$(winpath "$work/dump.bin")" "$size" "$addr" >"$inst/$e/DumpSet.ini"
    rm -f "$work/dump.bin"
    run "$(edition_tools "$e")/vantor_drive.exe" "$(winpath "$work/vantor.png")" "$(edition_win "$e")" ||
        fail "Vantor's Write or Read failed ($e)"
    cmp "$work/image.bin" "$work/dump.bin" || fail "the dump differs from the file written ($e)"
    cp "$inst/$e/DumpSet.ini" "$work/DumpSet.edited.$e"
done
echo "user's dump" >"$inst/my-dump.bin"

note "installing again keeps the edited DumpSet.ini files and a user's own settings"
own="$(unixpath "$(run cmd /c echo %APPDATA%)")/uXfer Tools/DumpSet.ini"
mkdir -p "$(dirname "$own")"
printf '[Dump]\r\nforWrite=C:\\mine.bin\r\n' >"$own"
cp "$own" "$work/own.ini"
run "$(winpath "$setup")" /S || fail "the second install failed"
for e in "${editions[@]}"; do
    cmp "$work/DumpSet.edited.$e" "$inst/$e/DumpSet.ini" || fail "the second install replaced the edited $e/DumpSet.ini"
done
cmp "$work/own.ini" "$own" || fail "the second install changed the user's own settings"
diff -r "$expected" "$inst" -x uninstall.exe -x DumpSet.ini -x my-dump.bin || fail "files differ after the second install"

note "silent uninstall, x64\\DumpSet.ini as shipped but for NUL bytes in it and after it"
{ head -c 10 "$expected/x64/DumpSet.ini"; printf '\0'; tail -c +11 "$expected/x64/DumpSet.ini"; head -c 2000 /dev/zero; } \
    >"$inst/x64/DumpSet.ini"
cp "$inst/x64/DumpSet.ini" "$work/DumpSet.edited.x64"
run "$inst/uninstall.exe" /S || fail "the uninstaller failed"
wait_for 120 '[ ! -f "$inst/uninstall.exe" ]' || fail "uninstall.exe is still there"
wait_for 60 '! reg_query "$uninstall_key" >/dev/null 2>&1' || fail "the uninstall entry is still there"
left=$(installed_files "$inst" | tr '\n' ' ')
want="./my-dump.bin ./x64/DumpSet.ini "
[ "$UXFER_RUNS_32BIT" = 1 ] && want="./DumpSet.ini $want"
[ "$left" = "$want" ] || fail "left after uninstall: $left (wanted $want)"
for e in "${editions[@]}"; do
    cmp "$work/DumpSet.edited.$e" "$inst/$e/DumpSet.ini" || fail "the uninstaller changed the edited $e/DumpSet.ini"
done
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

note "upgrade over the earlier 32-bit installer's installation: its folder, its settings, one entry"
# That installer kept its entry in the 32-bit view.
run reg delete "$uninstall_key" /f /reg:64 >/dev/null || fail "deleting the uninstall entry failed"
for value in "DisplayName=uXfer Tools" "InstallLocation=$inst_win"; do
    out=$(run reg add "$uninstall_key" /v "${value%%=*}" /d "${value#*=}" /f /reg:32 2>&1) ||
        fail "writing the earlier installer's entry failed (exit $?): $out"
done
echo "[Dump]" >>"$inst/x64/DumpSet.ini"
cp "$inst/x64/DumpSet.ini" "$work/DumpSet.edited.x64"
run "$(winpath "$setup")" /S || fail "the upgrade failed"
location=$(reg_value "$uninstall_key" InstallLocation)
[ "$location" = "$inst_win" ] || fail "InstallLocation after the upgrade is '$location'"
run reg query "$uninstall_key" /reg:32 >/dev/null 2>&1 && fail "the earlier installer's entry is still there"
cmp "$work/DumpSet.edited.x64" "$inst/x64/DumpSet.ini" || fail "the upgrade replaced the edited x64\\DumpSet.ini"
cp "$expected/x64/DumpSet.ini" "$inst/x64/DumpSet.ini"
diff -r "$expected" "$inst" -x uninstall.exe || fail "the installed files differ from the package (upgrade)"
run "$inst/uninstall.exe" /S || fail "the uninstaller failed (/D=)"
wait_for 120 '[ ! -e "$inst" ]' || fail "left after uninstall: $(installed_files "$inst" | tr '\n' ' ')"
reg_query "$uninstall_key" >/dev/null 2>&1 && fail "the uninstall entry is still there (/D=)"
no_auto_keys "after the uninstall (/D=)"
echo "package_install: passed"
