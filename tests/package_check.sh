#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian packages as a distribution builds and checks them:
#   package_check.sh SOURCE_DIR VERSION
# builds them through debian/ (scripts/package), runs lintian --pedantic on
# the .changes (the .dsc and the .deb with it): no error and no warning;
# reports the binaries' hardening; and, as root with autopkgtest installed,
# installs the package and runs debian/tests against it.
set -euo pipefail
source=$1
version=$2
fail() { echo "$*"; exit 1; }
cd "$source"
scripts/package >/dev/null
out=$source/build-release
changes=$out/vantrel_${version}_amd64.changes
[ -f "$out/vantrel_$version.dsc" ] || fail "no source package vantrel_$version.dsc"
[ -f "$changes" ] || fail "no $changes"
lint=$(lintian --pedantic --info --tag-display-limit 0 "$changes" 2>&1) || true
echo "$lint"
if grep -E '^(E|W):' <<<"$lint"; then fail "lintian: errors or warnings"; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$out/vantrel_${version}_amd64.deb" "$work"
for program in usr/bin/vantrel usr/bin/vantrel-display usr/libexec/vantrel/vantrel-panel; do
  hardening-check --nocfprotection "$work/$program" || fail "$program is not hardened"
done
if [ "$(id -u)" -eq 0 ] && command -v autopkgtest >/dev/null; then
  apt-get install -y -q --reinstall "$out/vantrel_${version}_amd64.deb" >/dev/null
  autopkgtest --no-built-binaries "$out/vantrel" -- null || fail "autopkgtest failed"
fi
echo "package $version: built, lintian-clean, hardened, tested as installed"
