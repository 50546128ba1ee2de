#!/usr/bin/env bash
# Takes the README's screenshot: the real window under Xvfb, driven with xdotool through
# "Add File" and "Start Compression >" on three sample pages in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
program=$(realpath "${VELLORK_BUILD_DIR:-build}/app/vellork")
work=$(scripts/sample-pages.sh)

export OUT=$(realpath -m "$out") WORK=$work PROGRAM=$program
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -e
    "$PROGRAM" & app=$!
    for i in $(seq 50); do win=$(xdotool search --name "^Vellork$" 2>/dev/null | head -1) && [ -n "$win" ] && break; sleep 0.2; done
    sleep 1
    click() { xdotool mousemove --window "$win" "$1" "$2" click 1; sleep 1; }
    click 52 388                                     # Add File
    xdotool type --delay 20 "$WORK/"; xdotool key Return; sleep 1
    xdotool type --delay 20 "\"about.html\" \"contact.html\" \"index.html\""; xdotool key Return; sleep 1
    click 52 388                                     # Add File, the .htm page
    xdotool key ctrl+a; xdotool type --delay 20 "$WORK/news.htm"; xdotool key Return; sleep 1
    click 616 388                                    # Start Compression >
    sleep 1; xdotool key Return; sleep 1              # close the final message
    import -window "$win" "$OUT"
    kill $app
'
rm -rf "$work"
echo "Screenshot written to $out"
