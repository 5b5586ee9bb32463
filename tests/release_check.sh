#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Release checks:   release_check.sh MODE BUILD_DIR SOURCE_DIR VERSION
#   version    the project version is the one of both programs, their manual
#              pages, the newest CHANGELOG.md entry, the newest AppStream
#              release and the package
#   appstream  the metainfo file validates with no error and no warning
set -euo pipefail
mode=$1
build=$2
source=$3
version=$4
fail() { echo "$*"; exit 1; }
case $mode in
  version)
    [ "$("$build/vantrel" --version)" = "vantrel $version" ] || fail "vantrel --version is not $version"
    [ "$("$build/vantrel-display" --version)" = "vantrel-display $version" ] || fail "vantrel-display --version is not $version"
    # The manual pages carry it themselves, so that they read right with man -l in the source tree.
    for page in vantrel vantrel-display; do
      grep -qF "\"Vantrel $version\" \"User Commands\"" "$source/packaging/$page.1" || fail "packaging/$page.1's .TH line is not at $version"
      ! grep -q '@[A-Z_]*@' "$source/packaging/$page.1" || fail "packaging/$page.1 holds a placeholder"
    done
    grep -qx "program: vantrel-display $version" "$source/packaging/vantrel-display.1" ||
      fail "packaging/vantrel-display.1's recording example is not at $version"
    newest=$(grep -m1 -E '^## ' "$source/CHANGELOG.md" | sed -E 's/^## ([^ ]+) .*/\1/')
    [ "$newest" = "$version" ] || fail "CHANGELOG.md's newest entry is $newest, not $version"
    release=$(grep -m1 -o '<release version="[^"]*" date="[^"]*"' "$source/packaging/vantrel.metainfo.xml")
    changelog_date=$(grep -m1 -E '^## ' "$source/CHANGELOG.md" | sed -E 's/.*\((.*)\)/\1/')
    [ "$release" = "<release version=\"$version\" date=\"$changelog_date\"" ] ||
      fail "the newest AppStream release ($release) is not $version of $changelog_date"
    [ "$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)" = "$version" ] ||
      fail "the source package (debian/changelog) is not at $version"
    generated=$(mktemp)
    bash "$source/packaging/debian-changelog.sh" "$source/CHANGELOG.md" "$(grep -m1 '^Maintainer: ' "$source/debian/control" |
      sed 's/^Maintainer: //')" "$generated"
    cmp -s "$generated" "$source/debian/changelog" || { rm -f "$generated"; fail "debian/changelog is not made from CHANGELOG.md: run packaging/debian-changelog.sh"; }
    rm -f "$generated"
    zcat "$build/changelog.gz" | head -n1 | grep -qF "vantrel ($version) " || fail "the package changelog is not at $version"
    echo "version $version everywhere"
    ;;
  appstream)
    out=$(appstreamcli validate --no-net "$source/packaging/vantrel.metainfo.xml" 2>&1) || fail "$out"
    ! grep -E '^(E|W):' <<<"$out" || fail "AppStream errors or warnings"
    echo "$out"
    ;;
  *) fail "unknown mode $mode" ;;
esac
