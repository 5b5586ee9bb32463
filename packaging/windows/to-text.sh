#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# A text file for Windows (CRLF line ends): to-text.sh IN OUT [man]; with
# "man", IN is a manual page, rendered as plain text first.
set -e
if [ "${3-}" = man ]; then groff -man -Tutf8 -P -cbou "$1"; else cat "$1"; fi | sed 's/$/\r/' >"$2"
