#!/usr/bin/env bash
# Takes the README's Windows screenshot: Vellork.exe from the Windows build under Wine and Xvfb,
# driven with xdotool through "Add File" (Wine's open dialog) and "Start Compression >" on
# three sample pages and one .htm page in a temporary folder. The Wine prefix is a window-capable
# one of its own, beside the test prefix (which runs on Wine's null display driver).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-windows.png}
build=$(realpath "${VELLORK_WIN_BUILD_DIR:-build-win}")
work=$(scripts/sample-pages.sh)

export OUT=$(realpath -m "$out") WORK=$work PROGRAM=$build/app/Vellork.exe
export WINEPREFIX=$build/wine-screen WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wine wineboot --init >/dev/null 2>&1
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -e
    wine "$PROGRAM" & app=$!
    for i in $(seq 100); do win=$(xdotool search --name "^Vellork$" 2>/dev/null | head -1) && [ -n "$win" ] && break; sleep 0.3; done
    sleep 2
    click() { xdotool mousemove --window "$win" "$1" "$2" click 1; sleep 2; }
    folder="Z:$(tr / \\\\ <<<"$WORK")\\"
    click 52 388                                     # Add File
    xdotool type --delay 20 "$folder"; xdotool key Return; sleep 1
    xdotool type --delay 20 "\"about.html\" \"contact.html\" \"index.html\""; xdotool key Return; sleep 2
    click 52 388                                     # Add File, the .htm page
    xdotool type --delay 20 "${folder}news.htm"; xdotool key Return; sleep 2
    click 616 388                                    # Start Compression >
    sleep 2; xdotool key Return; sleep 1              # close the final message
    xdotool mousemove 1000 760; sleep 1
    import -window "$win" "$OUT"
    kill $app
'
wineserver -k 2>/dev/null || true
rm -rf "$work"
echo "Screenshot written to $out"
