#!/usr/bin/env bash
# window-states.sh qt|win32 FOLDER
# Drives one of the two windows, on the X display in $DISPLAY (an Xvfb), through the states that
# the README's screenshots and the comparison of the two windows show, and saves each as a PNG
# of the window in FOLDER:
#   empty.png   as it opens;
#   rows.png    three sample pages and a .htm page chosen at once in Add File's dialog, with the
#               "HTML File(s)" filter on, and compressed;
#   failed.png  a page that is not text added as well and the list compressed again.
# The Qt window is build/app/vellork, scaled by QT_SCALE_FACTOR when set; the Win32 window is
# build-win/app/Vellork.exe under Wine, in the prefix build-win/wine-screen. The pointer stays off
# the window when a picture is taken.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=$1
out=$(realpath -m "$2")
mkdir -p "$out"
work=$(scripts/sample-pages.sh)
printf 'GIF89a\0\0<html>' >"$work/logo.html"
finish() {
    [ -z "${app:-}" ] || kill "$app" 2>/dev/null || true
    [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT

# Started in the pages' folder, where both open dialogs begin, so the names alone are typed.
scale=${QT_SCALE_FACTOR:-1}
if [ "$kind" = qt ]; then
    program=$(realpath "${VELLORK_BUILD_DIR:-build}/app/vellork")
    (cd "$work" && exec "$program" 2>/dev/null) &
else
    build=$(realpath "${VELLORK_WIN_BUILD_DIR:-build-win}")
    export WINEPREFIX=$build/wine-screen
    # Wine's note that it cannot read the label of the Linux root's "drive" is no news.
    (cd "$work" && exec "$OLDPWD/cmake/wine-run.sh" --display "$WINEPREFIX" "$build/app/Vellork.exe" \
        2> >(grep -v 'FS volume label' >&2)) &
    scale=1
fi
app=$!

# How many windows with this title are up (the window, its message box share one).
up() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l
}
# Waits until `count` windows so titled are up, for `tenths` tenths of a second.
wait_for() {  # title count tenths
    for _ in $(seq "$3"); do
        [ "$(up "$1")" -ge "$2" ] && return
        sleep 0.1
    done
    return 1
}
gone() {  # title count tenths: waits until fewer than count are up
    for _ in $(seq "$3"); do
        [ "$(up "$1")" -lt "$2" ] && return
        sleep 0.1
    done
    return 1
}
stuck() {
    import -window root "$out/screen.png" 2>/dev/null || true
    echo "window-states.sh: $kind: waited in vain for $1 (the screen is in $out)" >&2
    exit 1
}
wait_for Vellork 1 300 || stuck "the window"
win=$(xdotool search --onlyvisible --name "^Vellork\$" | head -1)
# Clicks a button, in the window's pixels at 1x, until the window it brings up is there: a click
# that comes while the window is still busy with a dialog that just closed can get lost.
press() {  # x y title count
    for _ in 1 2 3; do
        xdotool mousemove --window "$win" "$(awk "BEGIN { print int($1 * $scale) }")" \
            "$(awk "BEGIN { print int($2 * $scale) }")" click 1
        wait_for "$3" "$4" 100 && return
    done
    stuck "\"$3\""
}
shoot() {
    xdotool mousemove 0 0
    sleep 0.5
    import -window "$win" "$out/$1.png"
}
# Types names into the open dialog until it takes them: a dialog still settling can drop keys.
add() {
    press 52 388 "Select Web Pages" 1
    for _ in 1 2 3; do
        sleep 0.5
        xdotool key ctrl+a
        xdotool type --delay 5 "$1"
        xdotool key Return
        gone "Select Web Pages" 1 50 && return
    done
    stuck "the open dialog to close"
}
compress() {  # and close the final message
    press 616 388 Vellork 2
    sleep 0.3
    xdotool key Return
    gone Vellork 2 100 || stuck "the final message to close"
}

sleep 0.5
shoot empty
add '"about.html" "contact.html" "index.html" "news.htm"'
compress
shoot rows
add 'logo.html'
compress
shoot failed
