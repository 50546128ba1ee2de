#!/bin/sh
# check-install-tree.sh ROOT VERSION
# Checks an installed tree (ROOT/usr/...: `cmake --install` with a prefix, or an unpacked .deb)
# as the desktop and software centres read it: both programs, the manual pages, the desktop
# entry, metainfo and icons named after the AppStream id, a picture at every size of the icon
# theme, the release of this version, and a clean AppStream compose.
set -eu
root=$1 version=$2 usr=$1/usr id=io.github.vellork
fail() {
    echo "install tree: $*" >&2
    exit 1
}
for file in bin/vellork bin/vellork-cli share/applications/$id.desktop \
    share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg; do
    [ -f "$usr/$file" ] || fail "missing $file"
done
for page in vellork vellork-cli; do
    ls "$usr/share/man/man1/$page.1"* >/dev/null 2>&1 || fail "missing the manual page $page(1)"
done
for size in 16 24 32 48 64 128 256; do
    png=$usr/share/icons/hicolor/${size}x$size/apps/$id.png
    [ -f "$png" ] || fail "missing the ${size}x$size icon"
    [ "$(identify -format %wx%h "$png")" = "${size}x$size" ] || fail "the ${size}x$size icon is $(identify -format %wx%h "$png")"
done
grep -q "<release version=\"$version\" date=\"[0-9-]*\"/>" "$usr/share/metainfo/$id.metainfo.xml" ||
    fail "the metainfo has no release $version"
desktop-file-validate "$usr/share/applications/$id.desktop" || fail "the desktop entry is not valid"
appstreamcli validate --no-color --no-net --pedantic "$usr/share/metainfo/$id.metainfo.xml" >&2 ||
    fail "the metainfo is not valid"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
appstreamcli compose --no-color --no-net --print-report=full --prefix=/usr --origin=vellork \
    --result-root="$out" "$root" >&2 || fail "appstreamcli compose reports errors"
# Software centres show the 64 and 128 pixel pictures compose cuts from the icon theme.
for size in 64 128; do
    [ -f "$out/usr/share/swcatalog/icons/vellork/${size}x$size/$id.png" ] ||
        fail "appstreamcli compose made no ${size}x$size icon"
done
