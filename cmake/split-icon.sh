#!/bin/sh
# split-icon.sh ICO OUTDIR FIRST_ID
# Cuts a .ico file into what a Windows resource script needs for an icon group with images of
# chosen identifiers: OUTDIR/icon-N.bin for each image (N = FIRST_ID, FIRST_ID + 1, ...) and
# OUTDIR/icon-group.bin, the group's directory that names them. The .ico stays the one source.
set -eu
ico=$1 out=$2 id=$3

byte() { od -An -tu1 -j"$1" -N1 "$ico" | tr -d ' '; }
u16() { echo $(($(byte "$1") + 256 * $(byte $(($1 + 1))))); }
u32() { echo $(($(u16 "$1") + 65536 * $(u16 $(($1 + 2))))); }
slice() { dd if="$ico" bs=1 skip="$1" count="$2" 2>/dev/null; }
# A 16-bit little-endian number as two raw bytes.
le16() { printf "\\$(printf %o $(($1 % 256)))\\$(printf %o $(($1 / 256)))"; }

[ "$(u16 0)" -eq 0 ] && [ "$(u16 2)" -eq 1 ] || { echo "split-icon.sh: $ico is not an icon file" >&2; exit 1; }
count=$(u16 4)
mkdir -p "$out"
{
    slice 0 6
    i=0
    while [ "$i" -lt "$count" ]; do
        entry=$((6 + 16 * i))
        # Width, height, colours, planes, bits and byte count stay; the file offset becomes the id.
        slice "$entry" 12
        le16 $((id + i))
        slice "$(u32 $((entry + 12)))" "$(u32 $((entry + 8)))" >"$out/icon-$((id + i)).bin"
        i=$((i + 1))
    done
} >"$out/icon-group.bin"
