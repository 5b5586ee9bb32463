#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vantrel-display as scripts use it: --headless --link PATH prints the slave's
# path, then both screen lines and the status after every change; SIGTERM ends
# it and removes the link.   display_headless_check.sh PATH_TO_vantrel-display
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
link=$work/com1
"$program" --headless --link "$link" >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.05; done
[ -L "$link" ] || { echo "no link appeared"; cat "$work/err"; exit 1; }
[ "$(head -n 1 "$work/out")" = "$(readlink "$link")" ] || { echo "first line is not the slave's path"; exit 1; }
exec 3<>"$link"
stty -F "$link" raw -echo 9600
printf '\x0cHELLO\x02\x05S2\x03[' >&3
sleep 0.3
exec 3>&-
kill -TERM "$pid"
wait "$pid"
grep -qx '|HELLOÄ              |' "$work/out" || { echo "screen line missing:"; cat "$work/out"; exit 1; }
grep -q '^\[DSP800  9600 bit/s  Germany  PC437  demo off\]$' "$work/out" || { echo "status missing:"; cat "$work/out"; exit 1; }
[ ! -e "$link" ] || { echo "the link was left behind"; exit 1; }
echo "headless display as expected"
