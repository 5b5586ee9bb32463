#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A Windows icon from square PNG images, stored as PNG inside the icon, as
# Windows reads them since Vista:   make-icon.sh OUT.ico IMAGE.png...
set -euo pipefail
out=$1
shift
# le16 N, le32 N: N as little-endian bytes.
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
{
    le16 0; le16 1; le16 $#   # reserved, type 1 (icon), count
    offset=$((6 + 16 * $#))
    for png in "$@"; do
        [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { echo "make-icon.sh: not a PNG image: $png" >&2; exit 1; }
        width=$(od -An -j16 -N4 -tu1 "$png" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }')
        height=$(od -An -j20 -N4 -tu1 "$png" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }')
        [ "$width" = "$height" ] && [ "$width" -le 256 ] || { echo "make-icon.sh: not square or larger than 256: $png" >&2; exit 1; }
        size=$(stat -c %s "$png")
        # width and height (0 for 256), no palette, reserved, 1 plane, 32 bits, size, offset
        printf "\\x$(printf %02x $((width & 255)))\\x$(printf %02x $((height & 255)))\\x00\\x00"
        le16 1; le16 32; le32 "$size"; le32 "$offset"
        offset=$((offset + size))
    done
    cat "$@"
} >"$out.tmp"
mv "$out.tmp" "$out"
