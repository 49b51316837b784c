# Sourced by the package tests, with the build tree as $1: where the packages
# are, and a fresh 64-bit Wine prefix with the virtual device for one test
# (start_bed NAME), stopped when the test ends.  Tools: the x64 ones ($tools);
# the 32-bit ones ($tools32) only where 32-bit programs run (UXFER_RUNS_32BIT).
set -euo pipefail
build=$(cd "${1:?usage: $0 <build-dir>}" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# version, release (the packages' name): as the build tree says.
. "$build/release.env"
dist="$build/dist"
setup="$dist/$release-setup.exe"
zip="$dist/$release-win32.zip"

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

[ -f "$setup" ] && [ -f "$zip" ] || fail "no packages in $dist: run scripts/package.sh first"

# The Wine commands of the build's test bed, or of this machine when it is down.
if [ -f "$build/testbed/env" ]; then
    . "$build/testbed/env"
    export DISPLAY
fi
. "$root/scripts/wine-commands.sh"
# skipped_32bit WHAT: the one line that says which checks did not run.
skipped_32bit() { echo "-- skipped, 32-bit programs don't run ($UXFER_WHY_NO_32BIT): $*"; }

# A test bed of its own beside the build's: a fresh prefix, the build's
# virtual device and tools (bin), the build's display when it has one.
start_bed() {
    bed="$build/package-bed/$1"
    [ -d "$bed/testbed" ] && "$root/scripts/testbed.sh" stop "$bed" >/dev/null
    rm -rf "$bed"
    mkdir -p "$bed"
    ln -s "$build/bin" "$bed/bin"
    tools="$bed/bin/x64"
    tools32="$bed/bin"
    trap '"$root/scripts/testbed.sh" stop "$bed" >/dev/null' EXIT
    "$root/scripts/testbed.sh" start "$bed" >/dev/null
    . "$bed/testbed/env"
    export DISPLAY
    export WINEPREFIX="$bed/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    work="$bed/work"
    mkdir -p "$work"
    # Where no 32-bit program is to run, the bed is a Windows without WoW64:
    # wine64's prefix has a SysWOW64 folder anyway, and with UXFER_NO_32BIT on
    # a machine that runs 32-bit code its programs would still start.
    [ "$UXFER_RUNS_32BIT" = 1 ] || rm -rf "$WINEPREFIX/drive_c/windows/syswow64"
}

winpath() { winepath_cmd -w "$1" 2>/dev/null; }
unixpath() { winepath_cmd -u "$1" 2>/dev/null; }
# Windows output without carriage returns.
run() { wine_cmd "$@" | tr -d '\r'; }

# Waits up to `seconds` for a shell condition.
wait_for() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 5))); do
        eval "$@" && return 0
        sleep 0.2
    done
    return 1
}
