#!/usr/bin/env bash
# Builds the packages twice from clean copies of the current commit, in two
# trees at different paths, and compares every DLL, EXE and driver image and
# the zip byte for byte.  Exit status 0 when all are identical.
#   scripts/check-reproducible.sh [work-dir]     (default: build-reproducible)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build-reproducible}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
commit=$(git -C "$root" rev-parse HEAD)
# The zip's file times: the commit's, the same in both copies.
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH

for tree in a second; do
    mkdir -p "$work/$tree/src"
    git -C "$root" archive "$commit" | tar -x -C "$work/$tree/src"
    "$work/$tree/src/scripts/package.sh" >"$work/$tree.log" 2>&1 ||
        { echo "check-reproducible: building in $tree failed (see $work/$tree.log)" >&2; exit 1; }
done

status=0
one="$work/a/src/build"
two="$work/second/src/build"
count=0
while read -r f; do
    count=$((count + 1))
    if ! cmp -s "$one/$f" "$two/$f"; then
        echo "differs: $f"
        status=1
    fi
done < <(cd "$one" && find bin dist -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.sys' -o -name '*.zip' \
    -o -name '*.a' \) ! -name '*-setup.exe' | LC_ALL=C sort)
[ "$count" -gt 0 ] || { echo "check-reproducible: nothing to compare" >&2; exit 1; }
[ $status -eq 0 ] && echo "check-reproducible: $count files identical in both builds of $commit"
exit $status
