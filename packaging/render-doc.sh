#!/bin/sh
# A document of docs/ as an HTML page; links between the documents point at
# their pages.
#   render-doc.sh <cmark-gfm> <page.md> <page.html>
set -eu
cmark=$1
md=$2
title=$(sed -n '1s/^# *//p' "$md")
{
    printf '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
    printf '<title>%s</title>\n' "$title"
    printf '<style>body{font-family:sans-serif;max-width:60em;margin:2em auto;padding:0 1em;line-height:1.45}'
    printf 'code,pre{background:#f3f3f3}pre{padding:.6em;overflow:auto}'
    printf 'table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.2em .5em;vertical-align:top}</style>\n'
    printf '</head>\n<body>\n'
    "$cmark" --extension table --extension autolink --extension strikethrough "$md" |
        sed -E 's/(href="[A-Za-z0-9_-]+)\.md(#[^"]*)?"/\1.html\2"/g'
    printf '</body>\n</html>\n'
} >"$3"
