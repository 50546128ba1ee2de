#!/usr/bin/env bash
# Makes every picture of the program's icon from its one drawing, app/pictures/io.github.vellork.svg:
# the PNGs at each size the desktop's icon theme and the window use, each rendered at its own
# size rather than scaled from another, and vellork.ico for the Windows programs. The results
# are kept in app/pictures/; run this only after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
app=app/pictures
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" "$app/io.github.vellork.svg" -o "$app/icon-$size.png"
done
# The Windows icon group: 32 and 16 pixels in 256 colours (on white, as 256-colour icons have no
# alpha), then in 32-bit colour with alpha.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 32 16; do
    convert "$app/icon-$size.png" -background white -alpha remove -colors 256 -type Palette \
        "$work/icon-$size-8.bmp"
done
convert "$work/icon-32-8.bmp" "$work/icon-16-8.bmp" "$app/icon-32.png" "$app/icon-16.png" \
    "$app/vellork.ico"
