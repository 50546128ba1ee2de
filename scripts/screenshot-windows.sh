#!/usr/bin/env bash
# Takes the README's screenshot of Vellork.exe: the Windows build's window under Wine and Xvfb,
# with Wine's own fonts, after four sample pages were added through Wine's open dialog and
# compressed (scripts/window-states.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-windows.png}
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
xvfb-run -a -s "-screen 0 1024x768x24" scripts/window-states.sh win32 "$shots"
cp "$shots/rows.png" "$out"
echo "Screenshot written to $out"
