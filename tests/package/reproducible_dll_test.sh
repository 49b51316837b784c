#!/usr/bin/env bash
# uXfer.dll and its import library built in two separate trees, from source
# copies at different paths, must be byte-identical: no time stamps and no
# paths of the build machine in them.
#   reproducible_dll_test.sh <build-dir>
set -euo pipefail
build=$(cd "${1:?usage: $0 <build-dir>}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

repro="$build/reproducible"
rm -rf "$repro"
built=()
for tree in one/src second-tree/source; do
    src="$repro/$tree"
    mkdir -p "$src"
    (cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$src")
    (cd "$src" && cmake --preset win32 -B "$src-build" >/dev/null) || fail "configuring $tree failed"
    cmake --build "$src-build" --target uxfer -j2 >/dev/null || fail "building $tree failed"
    built+=("$src-build/bin")
done
for f in uXfer.dll libuXfer.a; do
    cmp "${built[0]}/$f" "${built[1]}/$f" || fail "$f differs between the two builds"
    echo "same bytes: $f"
done
rm -rf "$repro"
echo "package_reproducible_dll: passed"
