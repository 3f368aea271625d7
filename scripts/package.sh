#!/usr/bin/env bash
# Builds the Debian packages tervane and tervane-window, with their -dbgsym packages, from the
# files of this checkout (those git does not ignore), with debhelper and dpkg-buildpackage,
# and checks them with lintian (any error or warning fails). The version is the one of
# CMakeLists.txt's project(VERSION); debian/changelog is written from it. The test suite is
# not run again (DEB_BUILD_OPTIONS=nocheck): scripts/test.sh runs it.
#
#   scripts/package.sh [OUTDIR]     (default build-deb/ in the project folder)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build-deb}")
scripts/install-deps.sh --package

version=$(sed -n 's/^project(Tervane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package.sh: no project(VERSION) in CMakeLists.txt" >&2; exit 1; }

stage=$(mktemp -d /tmp/tervane-package.XXXXXX)
trap 'rm -rf "$stage"' EXIT
src="$stage/tervane-$version"
mkdir "$src"
# The files of the checkout that git does not ignore: nothing of a build folder.
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -C "$src" -xf -
cp -r packaging/debian "$src/debian"

maintainer=$(sed -n 's/^Maintainer: //p' packaging/debian/control)
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
date=$(git log -1 --format=%aD 2>/dev/null || date -R)
cat >"$src/debian/changelog" <<TEXT
tervane ($version) unstable; urgency=medium

  * Tervane $version, built from commit $commit.

 -- $maintainer  $date
TEXT

echo "== building tervane $version"
mkdir -p "$out"
log="$out/package-build.log"
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
  dpkg-buildpackage -b -us -uc -Pnocheck) >"$log" 2>&1 || {
  grep -E -B2 -A8 "error|Error" "$log" | grep -v "^--$" | tail -60 >&2
  echo "package.sh: dpkg-buildpackage failed; the whole log is $log" >&2
  exit 1
}
rm -f "$out"/tervane*_"$version"_*.deb "$out"/tervane_"$version"_*.{buildinfo,changes}
mv "$stage"/*.deb "$stage"/*.buildinfo "$stage"/*.changes "$out"/

echo "== lintian"
arch=$(dpkg --print-architecture)
lintian --fail-on error,warning --tag-display-limit 0 \
  "$out/tervane_${version}_$arch.deb" "$out/tervane-window_${version}_$arch.deb"
cd "$out"
ls -l tervane*_"$version"_*.deb
