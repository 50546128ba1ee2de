#!/usr/bin/env bash
# Draws the program's pictures (banner, row picture, application icon) with ImageMagick.
# The results are kept in ui/pictures/ (the window's) and app/pictures/ (the program's icon);
# run this only to change them.
set -euo pipefail
cd "$(dirname "$0")/.."
ui=ui/pictures app=app/pictures
font=DejaVu-Sans-Bold
orange='#f0781e'

# Banner, 607 x 84: the maker's mark at the left, the title in white on an orange panel at the right.
convert -size 607x84 xc:white \
    -fill '#1d5fa8' -draw "circle 42,42 42,8" \
    -fill white -font "$font" -pointsize 40 -annotate +28+57 'M' \
    -fill '#33414e' -font "$font" -pointsize 24 -annotate +88+52 'MORVANTE' \
    -fill "$orange" -draw "roundrectangle 330,6 640,78 14,14" \
    -fill white -font "$font" -pointsize 40 -annotate +352+55 'Vellork' \
    -font DejaVu-Sans -pointsize 12 -annotate +356+72 'Compress HTML Pages' \
    -colors 64 PNG8:$ui/banner.png

# Row picture, 16 x 16: a page with a folded corner and a globe at its lower right.
page() {  # size scale output
    local s=$1 k=$2
    convert -size "${s}x${s}" xc:none \
        -fill white -stroke '#5a6470' -strokewidth "$k" \
        -draw "polygon $((2*k)),$((1*k)) $((9*k)),$((1*k)) $((12*k)),$((4*k)) $((12*k)),$((14*k)) $((2*k)),$((14*k))" \
        -fill '#d8dde3' -draw "polygon $((9*k)),$((1*k)) $((9*k)),$((4*k)) $((12*k)),$((4*k))" \
        -stroke '#9aa5b1' -draw "line $((4*k)),$((6*k)) $((9*k)),$((6*k))" \
        -draw "line $((4*k)),$((8*k)) $((8*k)),$((8*k))" \
        -fill '#2f8fdc' -stroke '#1b5e96' -draw "circle $((11*k)),$((11*k)) $((11*k)),$((15*k-k/2))" \
        -stroke '#bfe3ff' -fill none -draw "line $((8*k)),$((11*k)) $((14*k)),$((11*k))" \
        -draw "ellipse $((11*k)),$((11*k)) $((k+k/2)),$((4*k-k/2)) 0,360" \
        "$3"
}
page 16 1 $ui/page16.png

# Application icon at 32 and 16: an orange tile with a white V over a squeezed page.
icon() {  # size output
    local s=$1 r=$(($1/6))
    convert -size "${s}x${s}" xc:none \
        -fill "$orange" -stroke '#b8520c' -strokewidth 1 -draw "roundrectangle 0,0 $((s-1)),$((s-1)) $r,$r" \
        -stroke none -fill white -font "$font" -pointsize $((s*3/4)) -gravity center -annotate +0+1 'V' \
        "$2"
}
icon 32 $app/icon32.png
icon 16 $app/icon16.png
# The Windows icon group: 32 and 16 pixels in 256 colours, then in 32-bit colour with alpha.
palette() { convert "$1" -background white -alpha remove -colors 256 -type Palette "$2"; }
palette $app/icon32.png /tmp/vellork-icon32-8.bmp
palette $app/icon16.png /tmp/vellork-icon16-8.bmp
convert /tmp/vellork-icon32-8.bmp /tmp/vellork-icon16-8.bmp $app/icon32.png $app/icon16.png $app/vellork.ico
rm -f /tmp/vellork-icon32-8.bmp /tmp/vellork-icon16-8.bmp
