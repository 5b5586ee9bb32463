#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the panel ($1) on a display and an accessibility bus of its own and
# reads its lists through AT-SPI (atspi_lists.py):
#   dbus-run-session -- atspi_lists_check.sh PANEL
# Needs Xvfb, at-spi2-core and python3-pyatspi (scripts/test installs them).
set -u
panel=$1
here=$(dirname "$0")
for need in /usr/bin/Xvfb /usr/libexec/at-spi-bus-launcher; do
  [ -x "$need" ] || { echo "$need is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "python3-pyatspi is not installed"; exit 77; }
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_CONFIG_HOME="$work" \
  LANG=C.UTF-8 "$panel" >/dev/null 2>&1 &
pids+=($!)
/usr/bin/python3 "$here/atspi_lists.py"
