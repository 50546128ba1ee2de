#!/usr/bin/env bash
# Draws the window's pictures (banner, row picture) with ImageMagick. The results are kept in
# ui/pictures/; run this only to change them. The program's icon is scripts/draw-icon.sh's.
set -euo pipefail
cd "$(dirname "$0")/.."
ui=ui/pictures
font=DejaVu-Sans-Bold
orange='#f0781e'

# The window's pictures are drawn at 1x and again at 1.5x and 2x for screens that scale, so a
# scaled window shows pictures drawn for its scale rather than enlarged ones. PNGs without
# time stamps, so that drawing again changes no file whose picture stays the same.
stampless=(-define png:exclude-chunks=date,time)

# Banner, 607 x 84 at 1x: the maker's mark at the left, the title in white on an orange panel at
# the right. Every shape and text is placed in 1x coordinates and scaled as a whole.
banner() {  # scale width height output
    local k="scale $1,$1"
    convert -size "$2x$3" xc:white \
        -fill '#1d5fa8' -draw "$k circle 42,42 42,8" \
        -fill white -font "$font" -pointsize 40 -draw "$k text 28,57 'M'" \
        -fill '#33414e' -font "$font" -pointsize 24 -draw "$k text 88,52 'MORVANTE'" \
        -fill "$orange" -draw "$k roundrectangle 330,6 640,78 14,14" \
        -fill white -font "$font" -pointsize 40 -draw "$k text 352,55 'Vellork'" \
        -font DejaVu-Sans -pointsize 12 -draw "$k text 356,72 'Compress HTML Pages'" \
        -colors 64 "${stampless[@]}" PNG8:"$4"
}
banner 1 607 84 $ui/banner.png
banner 1.5 911 126 $ui/banner@1.5x.png  # 910.5 wide, rounded up as both windows round it
banner 2 1214 168 $ui/banner@2x.png

# at K W 'primitive x,y ...': the primitive with its points at K times their 1x place, on pixel
# centres for an odd stroke width W and on pixel edges for an even one, so that every stroke
# covers whole pixels at any scale.
at() {
    awk -v k="$1" -v w="$2" -v draw="$3" 'BEGIN {
        n = split(draw, part, /[ ,]/); out = part[1]
        for (i = 2; i <= n; i++) {
            p = (part[i] + 0.5) * k - 0.5
            p = w % 2 ? int(p + 0.5) : int(p) + 0.5
            out = out (i % 2 ? "," : " ") p
        }
        print out
    }'
}

# Row picture, 16 x 16 at 1x: a page with a folded corner and a globe at its lower right; its
# lines are one pixel wide at 1x and 1.5x, two at 2x.
page() {  # size scale output
    local k=$2 w=${2%.*}
    convert -size "${1}x${1}" xc:none \
        -fill white -stroke '#5a6470' -strokewidth "$w" \
        -draw "$(at "$k" "$w" 'polygon 2,1 9,1 12,4 12,14 2,14')" \
        -fill '#d8dde3' -draw "$(at "$k" "$w" 'polygon 9,1 9,4 12,4')" \
        -stroke '#9aa5b1' -draw "$(at "$k" "$w" 'line 4,6 9,6')" \
        -draw "$(at "$k" "$w" 'line 4,8 8,8')" \
        -fill '#2f8fdc' -stroke '#1b5e96' -draw "$(at "$k" "$w" 'circle 11,11 11,15')" \
        -stroke '#bfe3ff' -fill none -draw "$(at "$k" "$w" 'line 8,11 14,11')" \
        -draw "$(at "$k" "$w" 'ellipse 11,11') $(awk "BEGIN { print $k \",\" 4 * $k }") 0,360" \
        "${stampless[@]}" "$3"
}
page 16 1 $ui/page16.png
page 24 1.5 $ui/page24.png
page 32 2 $ui/page32.png
