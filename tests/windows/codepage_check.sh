#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every code page's and international set's glyphs, and the panel's bytes for
# every character, are the same on Windows as on Linux: the Linux build's
# dump against the Windows build's under Wine. Then the panel's code page
# follows the user's language: GBK for Chinese.
#   codepage_check.sh HOST_DUMP_PROGRAM WINE_RUN DUMP_EXE
set -euo pipefail
host=$1 wine_run=$2 exe=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$host" >"$work/linux"
"$wine_run" "$exe" | tr -d '\r' >"$work/windows"
[ "$(wc -l <"$work/linux")" -gt 500 ] || { echo "the Linux dump is short"; exit 1; }
if ! cmp -s "$work/linux" "$work/windows"; then
    echo "the Windows build differs from the Linux build:"
    diff "$work/linux" "$work/windows" | cut -c1-200 | head -n 20
    exit 1
fi
echo "$(wc -l <"$work/linux") lines of glyphs and encodings the same on both"
for case in zh_CN.UTF-8:GBK en_US.UTF-8:W1252 de_DE.UTF-8:W1252; do
    got=$(LC_ALL=${case%%:*} "$wine_run" "$exe" --language | tr -d '\r')
    [ "$got" = "${case#*:}" ] || { echo "the user's language ${case%%:*} chose $got, not ${case#*:}"; exit 1; }
done
echo "the code page follows the user's language"
