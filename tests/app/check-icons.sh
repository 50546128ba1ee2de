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
# The image count, then each image's width, height, bits per pixel and byte count.
entries=$(od -An -v -tu1 -N70 "$ico" | awk '{for (i = 1; i <= NF; i++) b[n++] = $i} END {
    printf "%d", b[4] + 256 * b[5]
    for (e = 6; e < 70; e += 16)
        printf " %dx%d:%d:%d", b[e], b[e + 1], b[e + 6] + 256 * b[e + 7], b[e + 8] + 256 * b[e + 9] + 65536 * b[e + 10]
}')
expected="4 32x32:8:2216 16x16:8:1384 32x32:32:4264 16x16:32:1128"
[ "$entries" = "$expected" ] || fail "vellork.ico holds $entries, not $expected"
icotool -x -o "$work" "$ico" 2>/dev/null
same "$work/vellork_3_32x32x32.png" "$dir/icon-32.png" && same "$work/vellork_4_16x16x32.png" "$dir/icon-16.png" ||
    fail "vellork.ico's 32-bit images are not icon-32.png and icon-16.png; run scripts/draw-icon.sh"
