#!/usr/bin/env bash
# Takes the README's screenshots of the Qt window, at 1x and at 2x (QT_SCALE_FACTOR=2): the real
# window under Xvfb after four sample pages were added and compressed (scripts/window-states.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
for scale in 1 2; do
    QT_SCALE_FACTOR=$scale xvfb-run -a -s "-screen 0 1600x1200x24" \
        scripts/window-states.sh qt "$shots/$scale"
done
cp "$shots/1/rows.png" "$out"
cp "$shots/2/rows.png" "${out%.png}@2x.png"
echo "Screenshots written to $out and ${out%.png}@2x.png"
