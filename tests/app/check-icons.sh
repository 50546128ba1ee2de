#!/bin/sh
# check-icons.sh PICTURES
# The program's icon is one drawing (io.github.vellork.svg) made at each size: every icon-N.png
# must be that drawing rendered at N pixels, not an older picture or another size stretched.
# vellork.ico holds exactly the Windows icon group's four images, in order: 32 and 16 pixels in
# 256 colours, then 32 and 16 pixels in 32-bit colour with alpha, the latter the PNGs themselves.
set -eu
dir=$1
fail() {
    echo "icons: $*" >&2
    exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
same() {  # image image: no pixel differs
    [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = 0 ]
}
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" "$dir/io.github.vellork.svg" -o "$work/drawn.png"
    same "$work/drawn.png" "$dir/icon-$size.png" ||
        fail "icon-$size.png is not the drawing at $size pixels; run scripts/draw-icon.sh"
done

ico=$dir/vellork.ico
u16() { od -An -tu2 -j"$1" -N2 "$ico" | tr -d ' '; }
u32() { od -An -tu4 -j"$1" -N4 "$ico" | tr -d ' '; }
[ "$(u16 2)" = 1 ] && [ "$(u16 4)" = 4 ] || fail "vellork.ico does not hold four icon images"
# Width, height, bits per pixel and byte count of each image, as its directory entry gives them.
entries=
for i in 0 1 2 3; do
    at=$((6 + 16 * i))
    entries="$entries $(od -An -tu1 -j$at -N1 "$ico" | tr -d ' ')x$(od -An -tu1 -j$((at + 1)) -N1 "$ico" | tr -d ' '):$(u16 $((at + 6))):$(u32 $((at + 8)))"
done
[ "$entries" = " 32x32:8:2216 16x16:8:1384 32x32:32:4264 16x16:32:1128" ] ||
    fail "vellork.ico holds$entries, not 32x32:8:2216 16x16:8:1384 32x32:32:4264 16x16:32:1128"
icotool -x -o "$work" "$ico" 2>/dev/null
same "$work/vellork_3_32x32x32.png" "$dir/icon-32.png" && same "$work/vellork_4_16x16x32.png" "$dir/icon-16.png" ||
    fail "vellork.ico's 32-bit images are not icon-32.png and icon-16.png; run scripts/draw-icon.sh"
