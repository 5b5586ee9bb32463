#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a build into a staging folder and checks that exactly the expected
# files arrive, that the desktop entry validates and the manual pages render
# without warnings.   install_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
got=$(cd "$stage" && find . -type f | sort)
expected=$(sort <<'LIST'
./usr/bin/vantrel
./usr/bin/vantrel-display
./usr/libexec/vantrel/vantrel-panel
./usr/share/applications/vantrel.desktop
./usr/share/doc/vantrel/changelog.gz
./usr/share/doc/vantrel/copyright
./usr/share/doc/vantrel/json.md
./usr/share/icons/hicolor/16x16/apps/vantrel.png
./usr/share/icons/hicolor/32x32/apps/vantrel.png
./usr/share/icons/hicolor/48x48/apps/vantrel.png
./usr/share/icons/hicolor/128x128/apps/vantrel.png
./usr/share/man/man1/vantrel-display.1.gz
./usr/share/man/man1/vantrel.1.gz
./usr/share/metainfo/invalid.vantrel.Vantrel.metainfo.xml
LIST
)
if [ "$got" != "$expected" ]; then
  echo "installed files differ from the expected list:"
  diff <(echo "$expected") <(echo "$got") || true
  exit 1
fi
for size in 16 32 48 128; do
  identify -format '%w %h\n' "$stage/usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png" | grep -qx "$size $size" ||
    { echo "icon ${size}x${size} has the wrong size"; exit 1; }
done
desktop-file-validate "$stage/usr/share/applications/vantrel.desktop"
for page in vantrel vantrel-display; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$build/$page.1" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "manual page $page warnings:"
    echo "$warnings"
    exit 1
  fi
  zcat "$stage/usr/share/man/man1/$page.1.gz" | cmp - "$build/$page.1"
done
echo "install layout, desktop entry and manual pages are as expected"
