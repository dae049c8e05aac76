#!/bin/sh
# Builds the Debian package (debian/, dpkg-buildpackage) from a copy of the source tree, so that the
# tree stays clean, and leaves tovami_<version>_<arch>.deb (the desktop program) and
# tovami-cli_<version>_<arch>.deb (the entry alone, for servers), and their debug symbols, in OUT.
# build-package.sh OUT [JOBS]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
jobs=${2:-$(nproc)}

project=$(sed -n 's/^project(Tovami VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
if [ "$project" != "$version" ]; then
  echo "build-package: CMakeLists.txt says $project, debian/changelog $version: add a changelog entry" >&2
  exit 1
fi

stage="$out/build"
rm -rf "$stage"
mkdir -p "$stage/tovami-$version"
# What git tracks plus new files it does not ignore (no build trees); a plain copy without git.
if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$top" ls-files -z --cached --others --exclude-standard |
    tar -C "$top" --null -T - --ignore-failed-read -cf - | tar -C "$stage/tovami-$version" -xf -
else
  tar -C "$top" --anchored --exclude=./build* --exclude=./dist --exclude=./run-output --exclude=./.git -cf - . |
    tar -C "$stage/tovami-$version" -xf -
fi

echo "build-package: building tovami $version with $jobs jobs in $stage"
(cd "$stage/tovami-$version" &&
  DEB_BUILD_OPTIONS="parallel=$jobs${DEB_BUILD_OPTIONS:+ $DEB_BUILD_OPTIONS}" dpkg-buildpackage -b -us -uc)
rm -f "$out"/tovami*.deb
mv "$stage"/*.deb "$out"/
rm -rf "$stage"
ls "$out"/tovami_"$version"_*.deb "$out"/tovami-cli_"$version"_*.deb
