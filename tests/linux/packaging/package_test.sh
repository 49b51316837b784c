#!/usr/bin/env bash
# The same files installed into a fresh tree and listed in the package, each
# checked for what it is: the system config holds comments only and is a
# conffile, the manual page renders without a warning.
#   package_test.sh <cmake> <build tree> <package> <1 when uxfer is built>
set -eu
cmake=$1 build=$2 deb=$3 program=$4
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

table='usr/bin/uxfer                      program
etc/uxfer/usb.conf                 config
usr/share/man/man1/uxfer.1.gz      manual
usr/share/doc/uxfer/uxfer.md       document
usr/share/doc/uxfer/user-guide.md  document'
[ "$program" = 1 ] || table=$(grep -v ' program$' <<<"$table")

DESTDIR=$tree/root "$cmake" --install "$build" --prefix /usr >/dev/null
expected=$(awk '{ print $1 }' <<<"$table" | sort)
diff <(echo "$expected") <(cd "$tree/root" && find . -type f | sed 's|^\./||' | sort) ||
    fail "cmake --install: the files above differ (<: expected, >: installed)"
diff <(echo "$expected") <(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print substr($6, 3) }' | sort) ||
    fail "$deb: the files above differ (<: expected, >: packed)"

while read -r path kind; do
    file=$tree/root/$path
    case $kind in
    program) [ -x "$file" ] && dpkg-deb -f "$deb" Depends | grep -q libusb ||
        fail "$path: not a program, or the package doesn't depend on libusb" ;;
    config) ! grep -qv '^[[:space:]]*\(#.*\)\?$' "$file" && grep -q '^# .*uxfer usb add VID:PID' "$file" &&
        dpkg-deb -I "$deb" conffiles | grep -qx "/$path" ||
        fail "$path: holds a line that isn't a comment, says nothing of uxfer usb add, or isn't a conffile" ;;
    manual) zcat "$file" | groff -man -t -Tutf8 -ww >"$tree/page" 2>"$tree/warnings" || true
        zcat "$file" | grep -q '^\.TH UXFER 1 ' && grep -Eq '^ *uxfer +- ' "$tree/page" && [ ! -s "$tree/warnings" ] ||
        fail "$path: no .TH line, no NAME, or groff warns: $(cat "$tree/warnings")" ;;
    document) [ -s "$file" ] || fail "$path: empty" ;;
    esac
done <<<"$table"
exit $status
