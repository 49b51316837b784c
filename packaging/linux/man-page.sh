#!/bin/sh
# The manual page uxfer.1.gz from the uxfer reference (Markdown): its
# sections as subsections of DESCRIPTION under a NAME line; table cells as
# text blocks, so that a long cell wraps inside the terminal's width.
#   man-page.sh <cmark-gfm> <version> <uxfer.md> <uxfer.1.gz>
set -eu
cmark=$1
version=$2
md=$3
# The day of the reference's last change (SOURCE_DATE_EPOCH wins): the same
# page from the same sources.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    day=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
else
    day=$(git -C "$(dirname "$md")" log -1 --format=%cs -- "$(basename "$md")" 2>/dev/null || true)
fi
# The first line has man run the tables through tbl.
{
    printf "'\\\\\" t\n"
    printf '.TH UXFER 1 "%s" "uxfer %s" "User Commands"\n' "$day" "$version"
    printf '.SH NAME\nuxfer \\- move device memory to and from files, show the device status, watch devices\n'
    printf '.SH DESCRIPTION\n'
    # The title (its first two lines) gives way to NAME.
    "$cmark" -t man --extension table --extension autolink --extension strikethrough "$md" | sed '1,2d' |
        awk '/^\.TS$/ { table = 1; print; next }
             table == 1 && /\.$/ { gsub(/[a-z]/, "l"); sub(/l\.$/, "lx."); table = 2; print; next }
             table == 2 && /^\.TE$/ { table = 0 }
             table == 2 { n = split($0, cell, "@")
                          for (i = 1; i <= n; i++) printf "T{\n%s\nT}%s", cell[i], i < n ? "@" : "\n"
                          next }
             { print }'
} | gzip -9n >"$4"
