#!/usr/bin/env bash
# Builds the Debian packages from an existing build tree (default build)
# into DIR/packages: vantrel, vantrel-uinput and vantrel-dbgsym (the debug
# symbols stripped from vantrel's programs). Only the packaged programs are
# brought up to date first; the tree's build type and options stay as they
# are (RelWithDebInfo gives the debug symbols something to hold).
#
#   scripts/package.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
if [ ! -f "$dir/CMakeCache.txt" ]; then
  echo "package.sh: $dir is not a configured build tree (run scripts/build.sh $dir first)" >&2
  exit 2
fi
cmake --build "$dir" -j "$(nproc)" --target vantrel vantrel-reg package_files
rm -rf "$dir/packages"
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake) >"$dir/cpack.log" 2>&1 || {
  cat "$dir/cpack.log" >&2
  exit 1
}
rm -rf "$dir/packages/_CPack_Packages"

# CPack writes the debug symbol package's md5sums with the paths of its
# staging folder and gives it no documentation folder: it is packed again
# with md5sums of its own files, the .debug files not executable, and
# /usr/share/doc/vantrel-dbgsym a link to vantrel's (as Debian's own debug
# symbol packages have it).
for ddeb in "$dir"/packages/*-dbgsym_*.ddeb; do
  work=$(mktemp -d)
  dpkg-deb -R "$ddeb" "$work/root"
  (
    cd "$work/root"
    find usr -type f -name '*.debug' -exec chmod 0644 {} +
    mkdir -p usr/share/doc
    name=$(basename "$ddeb"); name=${name%%_*}
    ln -s "${name%-dbgsym}" "usr/share/doc/$name"
    find usr -type f -printf '%P\0' | sort -z | (cd usr && xargs -0 md5sum) |
      sed 's|  |  usr/|' >DEBIAN/md5sums
  )
  dpkg-deb --root-owner-group -Zgzip -b "$work/root" "$ddeb" >/dev/null
  rm -rf "$work"
done
ls "$dir"/packages/*.deb "$dir"/packages/*.ddeb 2>/dev/null
