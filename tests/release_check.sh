#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Release checks:   release_check.sh MODE BUILD_DIR SOURCE_DIR VERSION
#   version    the project version is the one of both programs, the newest
#              CHANGELOG.md entry, the newest AppStream release and the package
#   appstream  the metainfo file validates with no error and no warning
#   lintian    the Debian package passes lintian with no error and no warning
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
    newest=$(grep -m1 -E '^## ' "$source/CHANGELOG.md" | sed -E 's/^## ([^ ]+) .*/\1/')
    [ "$newest" = "$version" ] || fail "CHANGELOG.md's newest entry is $newest, not $version"
    release=$(grep -m1 -o '<release version="[^"]*" date="[^"]*"' "$source/packaging/vantrel.metainfo.xml")
    changelog_date=$(grep -m1 -E '^## ' "$source/CHANGELOG.md" | sed -E 's/.*\((.*)\)/\1/')
    [ "$release" = "<release version=\"$version\" date=\"$changelog_date\"" ] ||
      fail "the newest AppStream release ($release) is not $version of $changelog_date"
    grep -qx "set(CPACK_PACKAGE_VERSION \${PROJECT_VERSION})" "$source/CMakeLists.txt" ||
      fail "the package version is not the project's"
    zcat "$build/changelog.gz" | head -n1 | grep -qF "vantrel ($version) " || fail "the package changelog is not at $version"
    echo "version $version everywhere"
    ;;
  appstream)
    out=$(appstreamcli validate --no-net "$source/packaging/vantrel.metainfo.xml" 2>&1) || fail "$out"
    ! grep -E '^(E|W):' <<<"$out" || fail "AppStream errors or warnings"
    echo "$out"
    ;;
  lintian)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    (cd "$build" && cpack -G DEB -B "$work" >/dev/null)
    deb=$(ls "$work"/vantrel_"$version"_*.deb)
    out=$(lintian --tag-display-limit 0 "$deb" 2>&1) || true
    if grep -E '^(E|W):' <<<"$out"; then exit 1; fi
    echo "lintian: no error, no warning on $(basename "$deb")"
    ;;
  *) fail "unknown mode $mode" ;;
esac
