#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installer under Wine: /S installs every file of the staged tree, the
# installed vantrel.exe runs, and the uninstaller removes every file again.
#   installer_check.sh SETUP_EXE STAGE WINE_RUN VERSION
set -euo pipefail
setup=$1 stage=$2 wine_run=$3 version=$4
: "${WINEPREFIX:?}"
dir="$WINEPREFIX/drive_c/Program Files/Vantrel"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vantrel"
fail() { echo "$1"; exit 1; }

"$wine_run" "$setup" /S || fail "the installer exited $?"
wineserver -w
( cd "$stage" && find . -type f ) | while read -r f; do
    cmp -s "$stage/$f" "$dir/$f" || fail "not installed as built: $f"
done
[ -f "$dir/uninstall.exe" ] || fail "no uninstaller"
[ -f "$menu/Vantrel manual.lnk" ] || fail "no Start-menu entry"
[ ! -f "$stage/vantrel-panel.exe" ] || [ -f "$menu/Vantrel.lnk" ] || fail "no Start-menu entry for the panel"
out=$("$wine_run" "$dir/vantrel.exe" --version | tr -d '\r')
[ "$out" = "vantrel $version" ] || fail "the installed vantrel.exe says '$out'"
echo "installed $(find "$dir" -type f | wc -l) files; vantrel.exe --version: $out"

"$wine_run" "$dir/uninstall.exe" /S || fail "the uninstaller exited $?"
wineserver -w  # the uninstaller runs on as a copy of itself
[ ! -e "$dir" ] || fail "left behind: $(find "$dir" | head)"
[ ! -e "$menu" ] || fail "the Start-menu folder was left behind"
echo "uninstalled: nothing left"
