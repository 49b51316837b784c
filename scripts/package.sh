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
# servers itself), and DumpSet.ini has a step of its own in installer.nsi.
rm "$stage/README.txt"
files="$work/files.nsh"
remove="$work/remove.nsh"
: >"$files"
: >"$remove"
(cd "$stage" && find . -type d | LC_ALL=C sort) | while read -r dir; do
    rel=${dir#.}
    rel=${rel#/}
    winrel=${rel//\//\\}
    printf 'SetOutPath "$INSTDIR%s"\n' "${winrel:+\\$winrel}" >>"$files"
    (cd "$stage/$dir" && find . -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort) | while read -r f; do
        [ -z "$rel" ] && [ "$f" = DumpSet.ini ] && continue
        printf 'File "%s/%s"\n' "$stage${rel:+/$rel}" "$f" >>"$files"
        printf 'Delete "$INSTDIR%s\\%s"\n' "${winrel:+\\$winrel}" "$f" >>"$remove"
    done
done
# Folders deepest first, each only when it is empty.
(cd "$stage" && find . -mindepth 1 -type d | LC_ALL=C sort -r) | while read -r dir; do
    rel=${dir#./}
    printf 'RMDir "$INSTDIR\\%s"\n' "${rel//\//\\}" >>"$remove"
done
size_kb=$(du -sk "$stage" | cut -f1)
makensis -V2 -NOCD \
    -DVERSION="$version" -DSTAGE="$stage" -DFILES_NSH="$files" -DREMOVE_NSH="$remove" \
    -DSIZE_KB="$size_kb" -DOUTFILE="$dist/$release-setup.exe" \
    "$root/packaging/installer.nsi"
rm -rf "$work"
echo "package: $dist/$release-setup.exe"
echo "package: $dist/$release-win32.zip"
