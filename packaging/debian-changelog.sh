#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes CHANGELOG.md as a Debian changelog, compressed when OUT ends in .gz:
#   debian-changelog.sh CHANGELOG.md "Name <mail>" OUT
# Each "## VERSION (YYYY-MM-DD)" heading becomes an entry; each "- " item a
# bullet, wrapped to 78 columns. debian/changelog is this script's output.
set -euo pipefail
source=$1
maintainer=$2
case $3 in
  *.gz) exec > >(gzip -9n >"$3") ;;
  *) exec >"$3" ;;
esac
version=
date=
flush() {
  [ -n "$version" ] || return 0
  printf '\n -- %s  %s\n' "$maintainer" "$(LC_ALL=C date -u -R -d "$date")"
}
while IFS= read -r line; do
  if [[ $line =~ ^##\ ([^ ]+)\ \(([0-9-]+)\)$ ]]; then
    flush
    [ -z "$version" ] || echo  # a blank line between entries, none at the end
    version=${BASH_REMATCH[1]}
    date=${BASH_REMATCH[2]}
    printf 'vantrel (%s) unstable; urgency=medium\n\n' "$version"
  elif [[ -n $version && $line == "- "* ]]; then
    fold -s -w 74 <<<"${line#- }" | sed -e '1s/^/  * /' -e '2,$s/^/    /' -e 's/ *$//'
  fi
done <"$source"
flush
