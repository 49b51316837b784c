#!/usr/bin/env bash
# Builds the release packages into build/dist:
#   uXfer-Tools-<version>-setup.exe   installer (NSIS)
#   uXfer-Tools-<version>-win32.zip   the same files without installing
# Both hold what the install() rules of the two builds ship: the programs,
# the SDK and the documents rendered to HTML.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/build.sh"
. "$build/release.env"
dist="$build/dist"
work="$dist/work"
stage="$work/$release-win32"
rm -rf "$dist"
cmake --install "$build" --prefix "$stage" >/dev/null
cmake --install "$build/x64" --prefix "$stage" >/dev/null

# Zip: fixed order, fixed times (the commit's), no extra attributes, so that
# two builds of one commit give the same bytes.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
find "$stage" -exec touch -h -d "@$epoch" {} +
(cd "$work" && find "$release-win32" -print | LC_ALL=C sort |
    TZ=UTC zip -X -D -q -9 "$dist/$release-win32.zip" -@)

# Installer: the README is the zip's own (the installer registers the COM
# servers itself), and each DumpSet.ini has a step of its own in installer.nsi.
# Two lists: the 32-bit programs in the root, which it installs only where
# 32-bit programs run, and everything else (x64\, docs, SDK), always.
rm "$stage/README.txt"
files="$work/files.nsh"
remove="$work/remove.nsh"
files32="$work/files32.nsh"
remove32="$work/remove32.nsh"
: >"$files"
: >"$remove"
printf 'SetOutPath "$INSTDIR"\n' >"$files32"
: >"$remove32"
(cd "$stage" && find . -type d | LC_ALL=C sort) | while read -r dir; do
    rel=${dir#.}
    rel=${rel#/}
    winrel=${rel//\//\\}
    [ -n "$rel" ] && printf 'SetOutPath "$INSTDIR\\%s"\n' "$winrel" >>"$files"
    (cd "$stage/$dir" && find . -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort) | while read -r f; do
        [ "$f" = DumpSet.ini ] && continue
        list=$files rlist=$remove
        if [ -z "$rel" ]; then
            case "$f" in
            *.exe | *.dll) list=$files32 rlist=$remove32 ;;
            *) echo "package: $f in the programs folder's root is neither a 32-bit program nor a DLL" >&2; exit 1 ;;
            esac
        fi
        printf 'File "%s/%s"\n' "$stage${rel:+/$rel}" "$f" >>"$list"
        printf 'Delete "$INSTDIR%s\\%s"\n' "${winrel:+\\$winrel}" "$f" >>"$rlist"
    done
done
for f in x64/uxfer.exe x64/Vantor.exe x64/uXfer.dll x64/uXferAuto.dll x64/uXferSim.dll x64/uXferAutoSim.dll \
    x64/DumpSet.ini DumpSet.ini; do
    [ -f "$stage/$f" ] || { echo "package: $f is not staged" >&2; exit 1; }
done
# Folders deepest first, each only when it is empty.
(cd "$stage" && find . -mindepth 1 -type d | LC_ALL=C sort -r) | while read -r dir; do
    rel=${dir#./}
    printf 'RMDir "$INSTDIR\\%s"\n' "${rel//\//\\}" >>"$remove"
done
size32_kb=$(cd "$stage" && find . -maxdepth 1 -type f \( -name '*.exe' -o -name '*.dll' -o -name DumpSet.ini \) -print0 |
    du -ck --files0-from=- | tail -1 | cut -f1)
size_kb=$(($(du -sk "$stage" | cut -f1) - size32_kb))
makensis -V2 -NOCD \
    -DVERSION="$version" -DSTAGE="$stage" -DFILES_NSH="$files" -DREMOVE_NSH="$remove" \
    -DFILES32_NSH="$files32" -DREMOVE32_NSH="$remove32" -DSIZE_KB="$size_kb" -DSIZE32_KB="$size32_kb" -DOUTFILE="$dist/$release-setup.exe" \
    "$root/packaging/installer.nsi"
rm -rf "$work"
echo "package: $dist/$release-setup.exe"
echo "package: $dist/$release-win32.zip"
