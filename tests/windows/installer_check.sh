#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installer under Wine. The programs and the installer carry their icon,
# version information and manifest. An older version registered in another
# folder is upgraded in place: /S installs there, every file as staged, with
# its uninstall entry, and the older version's own files go. An install to
# another folder moves the registered copy there: the first copy goes, and
# no copy is left without an entry. A copy that is not registered (copied by
# hand) removes its own files and leaves the registered one's entry and
# shortcuts; the registered one's uninstaller removes everything.
#   installer_check.sh SETUP_EXE STAGE WINE_RUN VERSION
set -euo pipefail
setup=$1 stage=$2 wine_run=$3 version=$4
: "${WINEPREFIX:?}"
here=$(dirname "$(realpath "$0")")
build=$(dirname "$(realpath "$setup")")
default='C:\Program Files\Vantrel' other='C:\My Tools\Vantrel'
dir="$WINEPREFIX/drive_c/Program Files/Vantrel" otherdir="$WINEPREFIX/drive_c/My Tools/Vantrel"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vantrel"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel'
work=$(mktemp -d)
trap 'rm -rf "$work" "$WINEPREFIX/drive_c/My Tools"' EXIT
fail() { echo "$1"; exit 1; }
panel=
[ -f "$stage/vantrel-panel.exe" ] && panel=1

# The resources: version information as windres reads it back, the manifest as stored.
resources() { x86_64-w64-mingw32-windres -J coff -i "$1" -O rc; }
for exe in vantrel.exe ${panel:+vantrel-panel.exe vantrel-display.exe}; do
    rc=$(resources "$stage/$exe")
    for want in 'RT_GROUP_ICON' 'RT_MANIFEST' "FILEVERSION ${version//./, }" 'VALUE "ProductName", "Vantrel"' \
                "VALUE \"FileVersion\", \"$version\"" 'VALUE "FileDescription", "Vantrel, customer display' \
                'VALUE "CompanyName", "Vantrel developers"' 'VALUE "LegalCopyright", "Copyright (C) 2026 Vantrel developers'; do
        grep -qF "$want" <<<"$rc" || fail "$exe: no $want in its resources"
    done
    for want in '<requestedExecutionLevel level="asInvoker"' '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' \
                '>PerMonitorV2, PerMonitor</dpiAwareness>' '>true/pm</dpiAware>'; do
        grep -aqF "$want" "$stage/$exe" || fail "$exe: its manifest lacks $want"
    done
done
grep -qF "VALUE \"ProductVersion\", \"$version\"" <<<"$(resources "$setup")" || fail "the installer has no version information"
echo "icon, version information and manifest in ${panel:+vantrel-panel.exe, }vantrel.exe and the installer"

# entry: the uninstall entry's values (empty when there is none).
declare -A entry
read_entry() {
    entry=()
    local line
    while IFS= read -r line; do
        if [[ ${line%$'\r'} =~ ^\ +([A-Za-z]+)\ +REG_[A-Z]+\ +(.*)$ ]]; then entry[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}; fi
    done < <("$wine_run" reg query "$key" 2>/dev/null || true)
}
# run_setup SETUP [FOLDER]: /D= must come last and unquoted, so through cmd.
run_setup() {
    "$wine_run" cmd /c "Z:${1//\//\\} /S${2:+ /D=$2}" || fail "$1 exited $?"
    wineserver -w
}
shortcut_to() { grep -aqF "$2\\vantrel.txt" "$menu/Vantrel manual.lnk" || fail "the manual's shortcut does not open $2's, after $1"; }

# A clean start: no copy left by an earlier run that failed.
rm -rf "$dir" "$otherdir" "$menu"
"$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true

# An older version in another folder, with a file that this one has not.
mkdir -p "$work/old"
cp "$stage/vantrel.exe" "$stage/LICENSE.txt" "$work/old/"
echo "of the older version" >"$work/old/old-only.txt"
bash "$here/../../packaging/windows/make-package.sh" "$work/old" 0.9 "$work" "$build/product.nsh" >/dev/null
run_setup "$work/vantrel-0.9-setup.exe" "$other"
[ -f "$otherdir/old-only.txt" ] || fail "the older version was not installed in $other"

# A user's own file in the folder: kept, and not counted in the size the
# uninstall entry gives (checked below).
head -c 8M /dev/zero >"$otherdir/own.bin"
run_setup "$setup"
[ ! -e "$dir" ] || fail "installed in $default, not in the registered $other"
[ -f "$otherdir/own.bin" ] || fail "the upgrade removed a user's own file"
rm -f "$otherdir/own.bin"  # the size below is then the program's alone; the folder is moved later
[ ! -e "$otherdir/old-only.txt" ] || fail "the upgrade left the older version's file behind"
( cd "$stage" && find . -type f ) | while read -r f; do
    cmp -s "$stage/$f" "$otherdir/$f" || fail "not installed as built: $f"
done
[ -f "$otherdir/uninstall.exe" ] || fail "no uninstaller"
grep -qF 'RT_GROUP_ICON' <<<"$(resources "$otherdir/uninstall.exe")" || fail "the uninstaller has no icon"
[ -f "$menu/Vantrel manual.lnk" ] || fail "no Start-menu entry"
[ -z "$panel" ] || [ -f "$menu/Vantrel.lnk" ] || fail "no Start-menu entry for the panel"
# The display's: the program, and its arguments (UTF-16 in a shortcut).
[ -z "$panel" ] || /usr/bin/python3 -c 'import sys; d = open(sys.argv[1], "rb").read()
sys.exit(not (b"\\vantrel-display.exe" in d and "--port COM1".encode("utf-16-le") in d))' "$menu/Vantrel display on COM1.lnk" ||
    fail "no Start-menu entry for the display on COM1"
read_entry
size=$(du -sk --apparent-size "$otherdir" | cut -f1)
main=vantrel.exe
[ -n "$panel" ] && main=vantrel-panel.exe
for want in "DisplayVersion=$version" "Publisher=Vantrel developers" "InstallLocation=$other" \
            "DisplayIcon=$other\\$main,0" "UninstallString=\"$other\\uninstall.exe\""; do
    [ "${want#*=}" = "${entry[${want%%=*}]-}" ] || fail "uninstall entry: ${want%%=*} is '${entry[${want%%=*}]-}', not '${want#*=}'"
done
estimated=$(( ${entry[EstimatedSize]:-0} ))
(( estimated * 10 >= size * 9 && estimated * 10 <= size * 11 )) || fail "EstimatedSize $estimated KiB for $size KiB installed"
echo "upgraded in place in $other from 0.9 to $version; uninstall entry as expected ($estimated KiB)"

# The manual: Windows', as text every Notepad reads, no word split at a line's end.
manual=$otherdir/vantrel.txt
[ "$(head -c 3 "$manual" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "the manual does not begin with a byte-order mark"
! LC_ALL=C grep -qF $'\xe2\x80\x90' "$manual" || fail "the manual has hyphenated words (U+2010)"
[ "$(grep -c $'\r$' "$manual")" = "$(wc -l <"$manual")" ] || fail "the manual has lines without CRLF"
for want in '%APPDATA%\Vantrel\ports.conf' 'VANTREL_COM1 ... VANTREL_COM9' 'COM3=COM12' 'Exit status: 0' \
            'not available on' 'Windows'"'"' own COMn'; do
    tr -d '\r' <"$manual" | tr -s ' \n' '  ' | grep -qF "$want" || fail "the manual does not say $want"
done
! grep -qE '/dev/|dialout|XDG|ser2net' "$manual" || fail "the manual gives Linux advice: $(grep -E '/dev/|dialout|XDG|ser2net' "$manual" | head -3)"
if [ -n "$panel" ]; then
    # The display's manual too: what its one paragraph in vantrel.txt leaves out.
    manual=$otherdir/vantrel-display.txt
    [ "$(head -c 3 "$manual" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "the display's manual does not begin with a byte-order mark"
    for want in 'vantrel-display.exe --port name' '--tap till display' 'vantrel-display recording 1' 'likely:' \
                '{"event":"reading"' '--state file' 'Ctrl+Break' '\\?\COM12'; do
        tr -d '\r' <"$manual" | tr -s ' \n' '  ' | grep -qF -- "$want" || fail "the display's manual does not say $want"
    done
    ! grep -qE -- '--link path|--printer path|SIGHUP' "$manual" || fail "the display's manual gives Linux options: $(grep -E -- '--link path|--printer path|SIGHUP' "$manual" | head -3)"
    grep -aqF 'vantrel-display.txt' "$menu/Vantrel display manual.lnk" || fail "no shortcut to the display's manual"
    grep -q "^vantrel-$version/vantrel-display.txt " <<<"$(/usr/bin/python3 -m zipfile -l "$build/vantrel-$version-windows.zip")" ||
        fail "the display's manual is not in the zip"
    [ -f "$otherdir/translations/qtbase_zh_CN.qm" ] || fail "Qt's Chinese texts are not installed"
    zipped=$(/usr/bin/python3 -m zipfile -l "$build/vantrel-$version-windows.zip")
    grep -q "^vantrel-$version/translations/qtbase_zh_CN.qm " <<<"$zipped" ||
        fail "Qt's Chinese texts are not in the zip"
fi
out=$("$wine_run" "$otherdir/vantrel.exe" --version | tr -d '\r')
[ "$out" = "vantrel $version" ] || fail "the installed vantrel.exe says '$out'"
echo "installed $(find "$otherdir" -type f | wc -l) files; the manual is Windows'; vantrel.exe --version: $out"

# An install to the default folder moves the registered copy there.
run_setup "$setup" "$default"
read_entry
[ "${entry[InstallLocation]-}" = "$default" ] || fail "the copy in $default is not the registered one"
[ ! -e "$otherdir" ] || fail "the copy in $other was left behind, with no entry: $(find "$otherdir" | head)"
shortcut_to "the move to $default" "$default"
echo "an install to $default moved the registered copy there; nothing left in $other"

# A copy that is not registered: its uninstaller takes its own files and nothing of the registered copy's.
cp -r "$dir" "$otherdir"
"$wine_run" "$otherdir/uninstall.exe" /S || fail "the unregistered copy's uninstaller exited $?"
wineserver -w  # the uninstaller runs on as a copy of itself
[ ! -e "$otherdir" ] || fail "left behind in $other: $(find "$otherdir" | head)"
read_entry
[ "${entry[InstallLocation]-}" = "$default" ] || fail "an unregistered copy's uninstaller took the registered entry"
shortcut_to "an unregistered copy's uninstaller" "$default"
[ -z "$panel" ] || [ -f "$menu/Vantrel.lnk" ] || fail "an unregistered copy's uninstaller took the panel's shortcut"
echo "an unregistered copy's uninstaller left the registered entry and shortcuts"

"$wine_run" "$dir/uninstall.exe" /S || fail "the uninstaller exited $?"
wineserver -w
[ ! -e "$dir" ] || fail "left behind: $(find "$dir" | head)"
[ ! -e "$menu" ] || fail "the Start-menu folder was left behind"
read_entry
[ ${#entry[@]} = 0 ] || fail "the uninstall entry was left behind"
echo "uninstalled: nothing left"
