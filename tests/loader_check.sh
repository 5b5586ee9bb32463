#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every library of every program comes from the system's places: no program
# of the build, nor any installed one, carries a library search path (RPATH or
# RUNPATH; an empty entry would be the working folder), and a program started
# from a folder that holds a bogus libc.so.6 and Qt runs as anywhere else.
#   loader_check.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >/dev/null
programs=()
while IFS= read -r -d '' f; do
  [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] && programs+=("$f")
done < <(find "$build" "$work/stage" -path '*/CMakeFiles' -prune -o -type f -perm -u+x -print0)
for p in "$build/vantrel" "$build/vantrel-panel" "$build/vantrel-display" \
         "$work/stage/usr/bin/vantrel" "$work/stage/usr/libexec/vantrel/vantrel-panel"; do
  printf '%s\n' "${programs[@]}" | grep -qx "$p" || { echo "not found: $p"; exit 1; }
done
failed=0
for p in "${programs[@]}"; do
  if paths=$(readelf -d "$p" | grep -E '\((RPATH|RUNPATH)\)'); then
    echo "${p#"$work/stage"}: $paths"
    failed=1
  fi
done
[ "$failed" = 0 ] || exit 1
echo "${#programs[@]} programs carry no library search path"

# Started from a folder of bogus libraries.
mkdir "$work/bogus"
for lib in libc.so.6 libstdc++.so.6 libQt6Core.so.6 libQt6Gui.so.6 libQt6Widgets.so.6; do
  echo 'not a library' >"$work/bogus/$lib"
done
cd "$work/bogus"
out=$("$build/vantrel" send --dry-run X 2>&1) || { echo "vantrel send from a folder of bogus libraries: $out"; exit 1; }
out=$("$build/vantrel-display" --version 2>&1) || { echo "vantrel-display from a folder of bogus libraries: $out"; exit 1; }
echo "both programs run from a folder of bogus libraries"
