#!/usr/bin/env bash
# Test bed: a throwaway Wine prefix inside a build tree, with the virtual
# device installed, one persistent wineserver and, when there is no display,
# an Xvfb server.  Everything it starts is stopped by process id.
#
#   scripts/testbed.sh start <build-dir> [win64|win32]
#   scripts/testbed.sh stop <build-dir>
#
# win64 (the default) is a current 64-bit Windows: prefix <build>/wineprefix,
# the x86-64 driver from <build>/bin/x64 installed by the 64-bit vdevctl, 32-bit
# programs under WoW64 beside 64-bit ones.  win32 is a 32-bit Windows: prefix
# <build>/wineprefix32 with the 32-bit driver.  <build>/wine-run (and the
# 64-bit tree's) run programs in whichever is up.
set -euo pipefail

action=${1:-}
build=${2:-}
arch=${3:-win64}
[ -n "$action" ] && [ -n "$build" ] || { echo "usage: $0 start|stop <build-dir> [win64|win32]" >&2; exit 2; }
build=$(cd "$build" && pwd)
state="$build/testbed"
. "$(dirname "$0")/wine-commands.sh"
case "$arch" in
win64) export WINEPREFIX="$build/wineprefix"; bin="$build/bin/x64" ;;
win32)
    if [ "$action" = start ] && [ "$UXFER_RUNS_32BIT" != 1 ]; then
        echo "testbed: a 32-bit Windows needs 32-bit x86 code: $UXFER_WHY_NO_32BIT" >&2
        exit 3
    fi
    export WINEPREFIX="$build/wineprefix32"; bin="$build/bin" ;;
*) echo "testbed: unknown configuration $arch" >&2; exit 2 ;;
esac
export WINEARCH=$arch
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Ends the wineserver of every prefix of this build tree (and with it every
# program still running there), whoever started it: a second start, or a start
# after an earlier run that died, must not leave one behind.
end_wineservers() {
    local prefix
    for prefix in "$build/wineprefix" "$build/wineprefix32" "$build/simprefix"; do
        [ -f "$prefix/system.reg" ] || continue
        WINEPREFIX=$prefix wineserver_cmd -k >/dev/null 2>&1 || true
    done
}

# Ends the process a pid file names (state/NAME.pid), if it is still the
# program started, PROGRAM (default NAME): a pid may have been given to another
# process since.
stop_pid() {
    local file="$state/$1.pid" program=${2:-$1}
    [ -f "$file" ] || return 0
    local pid
    pid=$(cat "$file")
    if kill -0 "$pid" 2>/dev/null && grep -qai -- "$program" "/proc/$pid/cmdline" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$file"
}

start_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        echo "export DISPLAY=$DISPLAY" >>"$state/env"
        return
    fi
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 100); do DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    echo "export DISPLAY=:$n" >>"$state/env"
}

configure_prefix() {
    local reg="$state/settings.reg"
    # Virtual desktop: windows start quickly without a window manager.
    # Chinese captions drawn with an installed CJK font.  No crash dialogs.
    printf '%s\r\n' 'REGEDIT4' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1024x768"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' '"SimSun"="WenQuanYi Micro Hei"' \
        '"NSimSun"="WenQuanYi Micro Hei"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' '' >"$reg"
    regedit_cmd /S "$(winepath_cmd -w "$reg")"
    # The font name in Chinese, as dialog templates spell it (code page 936).
    wine_cmd reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$(printf '\xcb\xce\xcc\xe5' | iconv -f GB2312 -t UTF-8)" \
        /d 'WenQuanYi Micro Hei' /f >/dev/null
}

# Wine's own fonts (fonts-wine): Marlett draws the caption buttons, Tahoma and
# MS Sans Serif the dialogs.  Debian's Wine 8 looks for them in its data folder
# with "/../fonts" appended, a DOS name with a slash in it that it can't open,
# so none is loaded and caption buttons draw as letters ("r" for the close
# box).  A font path in the prefix's settings names their folder.  Every
# start: a prefix made before has it too.
use_wine_fonts() {
    local dir=/usr/share/wine/fonts
    if [ ! -f "$dir/marlett.ttf" ]; then
        echo "testbed: $dir/marlett.ttf (package fonts-wine) is missing: caption buttons draw as letters" >&2
        return
    fi
    wine_cmd reg add 'HKCU\Software\Wine\Fonts' /v Path /d "$(winepath_cmd -w "$dir")" /f >/dev/null
}

start() {
    mkdir -p "$state"
    # A test bed that is up already is taken down first.
    stop >/dev/null
    mkdir -p "$state"
    # The Wine commands this machine runs, for wine-run and the package tests.
    printf 'export WINEPREFIX="%s"\nexport WINEARCH=%s\n' "$WINEPREFIX" "$arch" >"$state/env"
    printf 'export UXFER_RUNS_32BIT=%s\nexport UXFER_WHY_NO_32BIT="%s"\nexport WINE="%s"\nexport WINESERVER="%s"\n' \
        "$UXFER_RUNS_32BIT" "$UXFER_WHY_NO_32BIT" "$WINE" "$WINESERVER" >>"$state/env"
    [ -n "${WINELOADER:-}" ] && printf 'export WINELOADER="%s"\n' "$WINELOADER" >>"$state/env"
    start_display
    . "$state/env"
    export DISPLAY

    local sys="$bin/vdevusb.sys"
    [ -f "$sys" ] || { echo "testbed: $sys is not built" >&2; exit 1; }
    # A prefix of the other kind (a build tree from before) is made anew.
    if [ -f "$WINEPREFIX/system.reg" ]; then
        local kind=win32
        grep -q '^#arch=win64' "$WINEPREFIX/system.reg" && kind=win64
        [ "$kind" = "$arch" ] || rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot_cmd -i >>"$state/wine.log" 2>&1
        wineserver_cmd -w
        configure_prefix >>"$state/wine.log" 2>&1
        wineserver_cmd -w
    fi
    # Put the driver image in place before the prefix boots: a loaded driver keeps
    # its file locked.  The copy under the real driver's name is what version
    # checks read; tests may replace it, and every start restores it.  On 64-bit
    # Windows the driver lies only in the native system32\drivers (the folder
    # 32-bit programs see as Sysnative), never in syswow64.
    local drivers="$WINEPREFIX/drive_c/windows/system32/drivers" name
    mkdir -p "$drivers"
    for name in vdevusb.sys KelvaneV4.sys; do
        cp "$sys" "$drivers/.$name.new"
        mv -f "$drivers/.$name.new" "$drivers/$name"
        rm -f "$WINEPREFIX/drive_c/windows/syswow64/drivers/$name"
    done

    # Started directly, not through a shell function, so that the pid is the
    # server's own and not that of a subshell that waits for it.
    "$WINESERVER" -p -f >/dev/null 2>&1 &
    echo $! >"$state/wineserver.pid"
    # Wine's own services start with the first program and keep its output
    # streams: give them a log, not our caller's pipe.
    # The service is created by a program of the driver's own bitness: one created
    # from 32-bit code under WoW64 would be started in the 32-bit driver host.
    wine_cmd "$bin/vdevctl.exe" install "$(winepath_cmd -w "$sys")" >>"$state/wine.log" 2>&1 ||
        { echo "testbed: installing the virtual device failed (see $state/wine.log)" >&2; exit 1; }
    wine_cmd "$bin/vdevctl.exe" reset >>"$state/wine.log" 2>&1
    use_wine_fonts
    start_sim_prefix
    echo "testbed: up ($arch, $DISPLAY, prefix $WINEPREFIX; without the device: $build/simprefix)"
}

# The prefix without the virtual device: never a driver installed, never a
# shim.  A 64-bit Windows whatever the main one is: WoW64 runs the 32-bit
# tree's programs where this machine runs 32-bit code, and sim-run's users check
# that as wine-run's do.  Same display and Wine commands; env file sim-env.
start_sim_prefix() (
    export WINEPREFIX="$build/simprefix" WINEARCH=win64
    if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q '^#arch=win64' "$WINEPREFIX/system.reg"; then
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot_cmd -i >>"$state/wine.log" 2>&1
        wineserver_cmd -w
        configure_prefix >>"$state/wine.log" 2>&1
        wineserver_cmd -w
    fi
    sed -e "s|^export WINEPREFIX=.*|export WINEPREFIX=\"$WINEPREFIX\"|" -e 's|^export WINEARCH=.*|export WINEARCH=win64|' \
        "$state/env" >"$state/sim-env"
    "$WINESERVER" -p -f >/dev/null 2>&1 &
    echo $! >"$state/simwineserver.pid"
    # Wine's services start with the first program and keep its output streams.
    wine_cmd cmd.exe /c exit >>"$state/wine.log" 2>&1
    use_wine_fonts
)

stop() {
    [ -d "$state" ] || return 0
    end_wineservers
    stop_pid wineserver
    stop_pid simwineserver wineserver
    stop_pid xvfb
    echo "testbed: down"
}

case "$action" in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop <build-dir>" >&2; exit 2 ;;
esac
