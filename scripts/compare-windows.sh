#!/usr/bin/env bash
# Compares the two windows, the Qt one and the Win32 one under Wine, as the user sees them: both
# are driven under one Xvfb through the same states (scripts/window-states.sh: empty, four rows
# after a batch, a failed row on top), and each state is compared region by region. Pictures and
# filled shapes are compared pixel by pixel. Where the two draw text with their own renderers, or
# controls in their own style, the layout boxes are compared instead: the bounding box of what
# stands out from the region's background. Every difference is printed in pixels; the script
# fails when one is over its region's limit. The pictures stay in build/window-comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
shots=$(realpath -m "${VELLORK_BUILD_DIR:-build}/window-comparison")
rm -rf "$shots"
mkdir -p "$shots"
unset QT_SCALE_FACTOR

# Each window on an Xvfb of its own (the server picks a free display and names it), so that the
# two are driven side by side.
servers=() drivers=()
trap 'kill "${servers[@]}" 2>/dev/null || true' EXIT
for kind in qt win32; do
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$shots/$kind.display" 2>/dev/null &
    servers+=($!)
    for _ in $(seq 100); do [ -s "$shots/$kind.display" ] && break; sleep 0.1; done
    DISPLAY=:$(cat "$shots/$kind.display") scripts/window-states.sh "$kind" "$shots/$kind" &
    drivers+=($!)
done
for driver in "${drivers[@]}"; do wait "$driver"; done

# The regions, in the window's pixels at 96 DPI: name, x, y, width, height, how they are compared,
# and the limits in pixels.
#   pixels N      at most N pixels differ by more than 3 % in colour
#   box X Y       the box: its left and right edges within X, its top and bottom within Y
#   text X Y      a text's box: its left edge within X, its width within X and 6 % (the two
#                 renderers space glyphs a little differently), top and bottom within Y
#   centred X Y   as text, with the centre in place of the left edge
#   start X Y     a text that differs between the windows (a path): its left edge, top and bottom
#   fill X Y      the box of the progress bar's blue fill, compared as a box
regions=(
    "band       0   0 694  98 pixels 0"
    "banner     8   8 607  84 pixels 0"
    "strip      9 105 100  31 pixels 0"
    "strip-box  4 100 681  41 box 0 0"
    "warning   10 106 669  29 centred 4 1"
)
# The list's header and rows: the columns' cells, inside the lines that part them.
columns=("File-Name 9 393" "Size 402 53" "Ratio 455 120" "Compressed 575 101")
for column in "${columns[@]}"; do
    read -r name left width <<<"$column"
    regions+=("header-$name $((left + 2)) 146 $((width - 5)) 13 text 3 1")
done
for row in 1 2 3 4 5; do
    top=$((162 + 17 * (row - 1)))
    regions+=("row$row-picture 10 $top 20 17 box 2 1" "row$row-path 30 $top 369 17 start 5 1")
    for column in "${columns[@]:1}"; do
        read -r name left width <<<"$column"
        regions+=("row$row-$name $((left + 2)) $top $((width - 5)) 17 text 3 1")
    done
done
for button in "Add-File 8 89" "Clear-List 104 105" "Start-Compression 552 129"; do
    read -r name left width <<<"$button"
    regions+=("$name $((left - 3)) 373 $((width + 6)) 31 box 0 0"
        "$name-caption $((left + 5)) 381 $((width - 10)) 15 centred 4 1")
done
regions+=(
    "counter  224 380 153  22 text 2 1"
    "progress   4 404 681  25 box 0 0"
    "progress-fill 4 404 681 25 fill 1 1"
)

# The box of every region but the pixel ones in one picture, a line each: "x y width height" in
# the window's pixels, or "none" where nothing stands out.
boxes() {
    local args=() name x y w h mode
    for region in "${regions[@]}"; do
        read -r name x y w h mode _ <<<"$region"
        [ "$mode" = pixels ] && continue
        local marked=(-fuzz 10%)
        [ "$mode" = fill ] && marked=(-fx '(b-r)>0.3')
        args+=(\( mpr:shot -crop "${w}x$h+$x+$y" +repage "${marked[@]}")
        args+=(-format "$x $y %@\n" -write info:- +delete \))
    done
    convert "$1" -write mpr:shot +delete "${args[@]}" xc:none null: 2>/dev/null |
        awk -F'[ x+]' '{ if ($3 == 0 || $4 == 0) print "none"; else print $1 + $5, $2 + $6, $3, $4 }'
}

failed=0
for state in empty rows failed; do
    qt=$shots/qt/$state.png win32=$shots/win32/$state.png
    if [ ! -f "$qt" ] || [ ! -f "$win32" ]; then
        echo "compare-windows.sh: a picture of the state \"$state\" is missing" >&2
        exit 1
    fi
    mapfile -t qtBoxes < <(boxes "$qt")
    mapfile -t winBoxes < <(boxes "$win32")
    i=0
    for region in "${regions[@]}"; do
        read -r name x y w h mode limitX limitY <<<"$region"
        if [ "$mode" = pixels ]; then
            differ=$(compare -metric AE -fuzz 3% "$qt[${w}x$h+$x+$y]" "$win32[${w}x$h+$x+$y]" \
                null: 2>&1) || [ $? -eq 1 ] || differ=unreadable
            verdict=$(awk -v d="$differ" -v l="$limitX" \
                'BEGIN { print (d ~ /^[0-9.e+]+$/ && d + 0 <= l ? "ok" : "OVER") }')
            printf '%-6s %-22s %-22s %-22s %s pixels differ (limit %s) %s\n' "$state" "$name" \
                "" "" "$differ" "$limitX" "$verdict"
        else
            line=$(awk -v mode="$mode" -v lx="$limitX" -v ly="$limitY" \
                -v q="${qtBoxes[$i]}" -v v="${winBoxes[$i]}" 'BEGIN {
                if (q == "none" || v == "none") {
                    print (q == v ? "- ok" : "one window shows nothing here OVER"); exit
                }
                split(q, a, " "); split(v, b, " ")
                dl = a[1] - b[1]; dt = a[2] - b[2]; dw = a[3] - b[3]; db = dt + a[4] - b[4]
                dc = (a[1] + a[3] / 2) - (b[1] + b[3] / 2)
                slack = lx + 0.06 * (a[3] > b[3] ? a[3] : b[3])
                over = (dt < -ly || dt > ly || db < -ly || db > ly)
                if (mode == "box" || mode == "fill") over = over || dl*dl > lx*lx || (dl+dw)*(dl+dw) > lx*lx
                if (mode == "text") over = over || dl*dl > lx*lx || dw*dw > slack*slack
                if (mode == "centred") over = over || dc*dc > lx*lx || dw*dw > slack*slack
                if (mode == "start") over = over || dl*dl > lx*lx
                printf "left %+d top %+d width %+d bottom %+d centre %+.1f %s\n", dl, dt, dw, db, dc, over ? "OVER" : "ok"
            }')
            printf '%-6s %-22s %-22s %-22s %s\n' "$state" "$name" "${qtBoxes[$i]}" \
                "${winBoxes[$i]}" "$line"
            i=$((i + 1))
        fi
    done
done | tee "$shots/differences.txt"
if grep -q 'OVER$' "$shots/differences.txt"; then
    echo "compare-windows.sh: the two windows differ beyond the limits above (pictures in $shots)" >&2
    exit 1
fi
echo "The two windows agree within the limits (pictures in $shots)."
