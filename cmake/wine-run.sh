#!/bin/sh
# wine-run.sh [--display] PREFIX PROGRAM.exe [ARGUMENT...]
# Runs a Windows program under Wine with its exit status, headless (windows are made on Wine's
# null display driver, never shown) and without Wine's chatter, in the Wine prefix PREFIX.
# With --display the prefix keeps Wine's X11 driver instead, for screenshots under Xvfb.
# The prefix is made once (wineboot takes several seconds), under a lock, since ctest starts
# several programs at the same time, and gets Wine's own fonts, so that "Tahoma" is Tahoma.
set -eu
display=
if [ "${1-}" = --display ]; then
    display=yes
    shift
fi
prefix=$1
shift
case $prefix in
/*) ;;
*) prefix=$PWD/$prefix ;;
esac
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko: installing them would ask in a dialog, and no test needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

first() {
    for candidate in "$@"; do
        if command -v "$candidate" >/dev/null 2>&1; then
            echo "$candidate"
            return
        fi
    done
}
wine=$(first wine64 /usr/lib/wine/wine64 wine)
wineserver=$(first wineserver /usr/lib/wine/wineserver)
if [ -z "$wine" ] || [ -z "$wineserver" ]; then
    echo "wine-run.sh: Wine is not installed (Debian: wine wine64)" >&2
    exit 127
fi

# The headless prefix gets the null display driver, so the window tests need no X server; every
# prefix gets no debugger for a program that crashes, so a crash ends the test at once instead
# of waiting in Wine's debugger. Wine's desktop process was started by wineboot with the driver
# of before, and windows cannot be made until it is gone: the server and its helpers are
# stopped once.
ready=$prefix/.vellork-headless-ready
[ -z "$display" ] || ready=$prefix/.vellork-display-ready
if [ ! -f "$ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$ready" ]; then
        if ! "$wine" wineboot --init >"$prefix.log" 2>&1; then
            echo "wine-run.sh: could not make the Wine prefix $prefix:" >&2
            cat "$prefix.log" >&2
            exit 1
        fi
        [ -n "$display" ] ||
            "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Debugger /d '' /f >/dev/null 2>&1
        "$wineserver" -k >/dev/null 2>&1 || true
        "$wineserver" -w >/dev/null 2>&1 || true
        touch "$ready"
    fi
    exec 9>&-
fi

# Wine's own fonts (Debian's fonts-wine), which this Wine does not find by itself: without them
# "Tahoma" falls back to a wider face that cuts the window's texts. Linked into the prefix's
# Fonts folder, where Wine loads every font it finds.
fonts=$prefix/drive_c/windows/Fonts
if [ ! -e "$fonts/tahoma.ttf" ]; then
    if [ ! -f /usr/share/wine/fonts/tahoma.ttf ]; then
        echo "wine-run.sh: Wine's fonts are missing (Debian: fonts-wine)" >&2
        exit 1
    fi
    ln -sf /usr/share/wine/fonts/* "$fonts/"
fi

# Wine's server and helper processes (services.exe, winedevice.exe, ...) outlive a program by
# a few seconds. Started by a program, they would keep its output pipes open, and ctest would
# wait for them after every test; started here with their output going nowhere, they stay
# ready for the next program instead.
if "$wineserver" -p5 </dev/null >/dev/null 2>&1; then
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
exec "$wine" "$@"
