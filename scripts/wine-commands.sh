# Sourced by the scripts: finds out once whether this machine runs 32-bit x86
# code and picks the Wine commands that work on it.  Exports
#   UXFER_RUNS_32BIT  1 when 32-bit programs run, 0 when only 64-bit ones do
#   UXFER_WHY_NO_32BIT  why not, for the lines that report what did not run
#   WINE, WINESERVER  the loader and the server to call
# and defines wine_cmd, wineserver_cmd, wineboot_cmd, winepath_cmd, regedit_cmd.
# UXFER_NO_32BIT=1 takes the 64-bit-only path on any machine.  A parent that
# already decided passes its choice down in these variables.

# Whether this machine runs 32-bit x86 code at all: a static i386 program that
# exits 0 (elsewhere execve refuses it).
runs_32bit_code() {
    local probe status=0
    probe=$(mktemp)
    echo 'f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhdAAAAXQAAAAUAAAAAEAAAuAEAAAAx282A' |
        base64 -d >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=1
    rm -f "$probe"
    return $status
}

if [ -z "${UXFER_RUNS_32BIT:-}" ]; then
    if [ -n "${UXFER_NO_32BIT:-}" ] && [ "$UXFER_NO_32BIT" != 0 ]; then
        UXFER_RUNS_32BIT=0
        UXFER_WHY_NO_32BIT="UXFER_NO_32BIT is set"
    elif [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        UXFER_RUNS_32BIT=1
        UXFER_WHY_NO_32BIT=""
    elif runs_32bit_code; then
        UXFER_RUNS_32BIT=0
        UXFER_WHY_NO_32BIT="the 32-bit Wine (package wine32:i386) is not installed: scripts/setup.sh could not install it"
    else
        UXFER_RUNS_32BIT=0
        UXFER_WHY_NO_32BIT="this machine runs no 32-bit x86 code"
    fi
    export UXFER_RUNS_32BIT UXFER_WHY_NO_32BIT
fi
if [ "$UXFER_RUNS_32BIT" = 1 ]; then
    # Debian's wrapper: the 32-bit loader, which starts the 64-bit one for 64-bit programs.
    WINE=${WINE:-wine}
    WINESERVER=${WINESERVER:-wineserver}
else
    # The wrappers in /usr/bin all start the 32-bit loader first.
    WINE=/usr/lib/wine/wine64
    WINESERVER=/usr/lib/wine/wineserver64
    export WINELOADER=$WINE
fi
export WINE WINESERVER
wine_cmd() { "$WINE" "$@"; }
wineserver_cmd() { "$WINESERVER" "$@"; }
wineboot_cmd() { "$WINE" wineboot "$@"; }
winepath_cmd() { "$WINE" winepath "$@"; }
regedit_cmd() { "$WINE" regedit "$@"; }
