#!/usr/bin/env bash
# Builds the release packages into <build-dir>/dist (default build/dist):
#   uXfer-Tools-<version>-setup.exe   installer (NSIS)
#   uXfer-Tools-<version>-win32.zip   the same files without installing
# Both hold the programs, the SDK and the documents rendered to HTML.
#
#   scripts/package.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

"$root/scripts/build.sh" "$build"
build=$(cd "$build" && pwd)
bin="$build/bin"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package: no project version in $build/CMakeCache.txt" >&2; exit 1; }
name="uXfer-Tools-$version"
dist="$build/dist"
work="$dist/work"
stage="$work/$name-win32"
rm -rf "$dist"
mkdir -p "$stage"

# Every file a release needs; a missing one stops the packaging.
need() {
    local f
    for f in "$@"; do
        [ -f "$f" ] || { echo "package: $f is missing" >&2; exit 1; }
    done
}
gen="$build/comserver"
need "$bin/uXfer.dll" "$bin/libuXfer.a" "$bin/Vantor.exe" "$bin/Talvix.dll" "$bin/uxfer.exe" \
    "$bin/x64/uXfer.dll" "$bin/x64/libuXfer.a" "$gen/Talvix.tlb" "$gen/Talvix.h" "$gen/Talvix_i.c" \
    "$root/samples/dump.cmd"

# Programs.
cp "$bin/uXfer.dll" "$bin/Vantor.exe" "$bin/Talvix.dll" "$bin/uxfer.exe" "$stage/"
mkdir -p "$stage/x64"
cp "$bin/x64/uXfer.dll" "$stage/x64/"
cp "$root/packaging/DumpSet.ini" "$stage/"

# Documents: Markdown rendered to HTML; links between them point at the HTML.
mkdir -p "$stage/docs"
for md in "$root"/docs/*.md; do
    page=$(basename "$md" .md)
    title=$(sed -n '1s/^# *//p' "$md")
    {
        printf '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
        printf '<title>%s</title>\n' "$title"
        printf '<style>body{font-family:sans-serif;max-width:60em;margin:2em auto;padding:0 1em;line-height:1.45}'
        printf 'code,pre{background:#f3f3f3}pre{padding:.6em;overflow:auto}'
        printf 'table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.2em .5em;vertical-align:top}</style>\n'
        printf '</head>\n<body>\n'
        cmark-gfm --extension table --extension autolink --extension strikethrough "$md" |
            sed -E 's/(href="[A-Za-z0-9_-]+)\.md(#[^"]*)?"/\1.html\2"/g'
        printf '</body>\n</html>\n'
    } >"$stage/docs/$page.html"
done
if [ -d "$root/docs/images" ]; then
    mkdir -p "$stage/docs/images"
    cp "$root"/docs/images/* "$stage/docs/images/"
fi

# SDK: header, import libraries for MinGW and Microsoft's linker with the
# .def they come from, the type library with its IDL and generated header,
# and samples.
sdk="$stage/sdk"
mkdir -p "$sdk/include" "$sdk/lib/x86" "$sdk/lib/x64" "$sdk/typelib" \
    "$sdk/samples/c" "$sdk/samples/script" "$sdk/samples/cli"
cp "$root/transfer/uXfer.h" "$gen/Talvix.h" "$gen/Talvix_i.c" "$root/comserver/talvix_records.h" "$sdk/include/"
cp "$gen/Talvix.tlb" "$root/comserver/Talvix.idl" "$sdk/typelib/"
# x86: stdcall names carry their argument size (uCreate@4); the DLL exports
# them plain, which the import libraries record.
{
    printf 'LIBRARY uXfer.dll\r\nEXPORTS\r\n'
    sed -n 's/^ *[A-Za-z]*=\([A-Za-z]*@[0-9]*\).*/    \1\r/p' "$root/transfer/uXfer.def"
} >"$sdk/lib/x86/uXfer.def"
cp "$bin/libuXfer.a" "$sdk/lib/x86/"
llvm-dlltool -m i386 -k -d "$sdk/lib/x86/uXfer.def" -l "$sdk/lib/x86/uXfer.lib"
# x64 has one calling convention and no decorations.
{
    printf 'LIBRARY uXfer.dll\r\nEXPORTS\r\n'
    sed -n 's/^ *\([A-Za-z]*\)=[A-Za-z]*@[0-9]*.*/    \1\r/p' "$root/transfer/uXfer.def"
} >"$sdk/lib/x64/uXfer.def"
cp "$bin/x64/libuXfer.a" "$sdk/lib/x64/"
llvm-dlltool -m i386:x86-64 -d "$sdk/lib/x64/uXfer.def" -l "$sdk/lib/x64/uXfer.lib"
cp "$root/samples/c/uxfer_info.c" "$root/samples/c/CMakeLists.txt" "$sdk/samples/c/"
cp "$root/samples/device_info.vbs" "$root/samples/device_info.js" "$sdk/samples/script/"
# cmd reads batch files with Windows line ends reliably only.
sed 's/\r*$/\r/' "$root/samples/dump.cmd" >"$sdk/samples/cli/dump.cmd"

sed "s/@VERSION@/$version/" "$root/packaging/README-portable.txt" | sed 's/$/\r/' >"$stage/README.txt"

# Zip: fixed order, fixed times (the commit's), no extra attributes, so that
# two builds of one commit give the same bytes.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
find "$stage" -exec touch -h -d "@$epoch" {} +
(cd "$work" && find "$name-win32" -print | LC_ALL=C sort |
    TZ=UTC zip -X -D -q -9 "$dist/$name-win32.zip" -@)

# Installer: the README is the zip's own; the installer writes its own
# registration.
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
    -DSIZE_KB="$size_kb" -DOUTFILE="$dist/$name-setup.exe" \
    "$root/packaging/installer.nsi"
rm -rf "$work"
echo "package: $dist/$name-setup.exe"
echo "package: $dist/$name-win32.zip"
