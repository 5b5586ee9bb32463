#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows installer and zip from an installed tree:
#   make-package.sh STAGE VERSION OUTDIR PRODUCT [panel]
# makes OUTDIR/vantrel-VERSION-setup.exe and OUTDIR/vantrel-VERSION-windows.zip
# (the same files in a folder vantrel-VERSION). PRODUCT (product.nsh, made by
# cmake/Windows.cmake) has the version as four numbers, the publisher, the
# copyright and the icon.
set -euo pipefail
stage=$(realpath "$1") version=$2 out=$(realpath "$3") product=$(realpath "$4") panel=${5:-}
here=$(dirname "$(realpath "$0")")
lists=$(mktemp -d)
trap 'rm -rf "$lists"' EXIT

# What to install, folder by folder, and what to remove again, deepest first.
( cd "$stage"
  find . -type d | sort | while read -r dir; do
      rel=${dir#./}; rel=${rel#.}
      win=${rel//\//\\}
      echo "SetOutPath \"\$INSTDIR${win:+\\$win}\""
      find "$dir" -maxdepth 1 -type f | sort | while read -r f; do echo "File \"$stage/${f#./}\""; done
  done >"$lists/install.nsh"
  find . -type f | sort | while read -r f; do rel=${f#./}; echo "Delete \"\$INSTDIR\\${rel//\//\\}\""; done >"$lists/uninstall.nsh"
  find . -mindepth 1 -type d | sort -r | while read -r d; do rel=${d#./}; echo "RMDir \"\$INSTDIR\\${rel//\//\\}\""; done >>"$lists/uninstall.nsh" )

# What the installed files take, for the list of programs: counted here, so
# that the installer never walks a folder that may hold many other files.
size=$(find "$stage" -type f -printf '%s\n' | awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')
setup=$out/vantrel-$version-setup.exe
makensis -V2 -NOCD -DVERSION="$version" -DSIZE_KIB="$size" -DPRODUCT="$product" -DSTAGE="$stage" -DOUTFILE="$setup" \
    -DINSTALL_LIST="$lists/install.nsh" -DUNINSTALL_LIST="$lists/uninstall.nsh" ${panel:+-DPANEL} "$here/vantrel.nsi"

zipfile=$out/vantrel-$version-windows.zip
rm -f "$zipfile"
ln -sfn "$stage" "$lists/vantrel-$version"
( cd "$lists" && zip -qrX "$zipfile" "vantrel-$version/" )
echo "made $setup ($(du -k "$setup" | cut -f1) KiB) and $zipfile ($(du -k "$zipfile" | cut -f1) KiB)"
