# Sourced by the package tests, with the build tree as $1: where the packages
# are, and a fresh Wine prefix with the virtual device for one test
# (start_bed NAME), stopped when the test ends.
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

# A test bed of its own beside the build's: a fresh prefix, the build's
# virtual device and tools (bin), the build's display when it has one.
start_bed() {
    bed="$build/package-bed/$1"
    [ -d "$bed/testbed" ] && "$root/scripts/testbed.sh" stop "$bed" >/dev/null
    rm -rf "$bed"
    mkdir -p "$bed"
    ln -s "$build/bin" "$bed/bin"
    if [ -f "$build/testbed/env" ]; then
        . "$build/testbed/env"
        export DISPLAY
    fi
    trap '"$root/scripts/testbed.sh" stop "$bed" >/dev/null' EXIT
    "$root/scripts/testbed.sh" start "$bed" >/dev/null
    . "$bed/testbed/env"
    export DISPLAY
    export WINEPREFIX="$bed/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    work="$bed/work"
    mkdir -p "$work"
}

winpath() { winepath -w "$1" 2>/dev/null; }
unixpath() { winepath -u "$1" 2>/dev/null; }
# Windows output without carriage returns.
run() { wine "$@" | tr -d '\r'; }

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
