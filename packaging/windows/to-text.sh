#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# A text file for Windows (CRLF line ends): to-text.sh IN OUT [man]; with
# "man", IN is a manual page, rendered as plain text without hyphenation
# (no word split at a line's end, no U+2010) and begun with UTF-8's
# byte-order mark, so that every Notepad reads it as UTF-8.
set -e
if [ "${3-}" = man ]; then
    { printf '\357\273\277'; groff -man -Tutf8 -rHY=0 -P -cbou "$1"; } | sed 's/$/\r/' >"$2"
else
    sed 's/$/\r/' "$1" >"$2"
fi
