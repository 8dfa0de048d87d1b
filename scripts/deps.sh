#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vantrel need.
# Packages already present are skipped, so a second run costs a dpkg query.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build libtsan2
  libgtest-dev libgmock-dev
  libsqlite3-dev sqlite3
  libx11-dev libxtst-dev libxkbcommon-dev x11-xkb-utils xvfb xdotool openbox
  libevdev-dev
  libwayland-dev sway wev mutter
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core qt6-translations-l10n
  libsystemd-dev dbus dbus-x11 python3 python3-dbusmock
  libpulse-dev
  xauth
  x11-utils imagemagick
  clang libclang-rt-14-dev lld
  passwd
  dpkg-dev lintian desktop-file-utils appstream groff-base file
  g++-mingw-w64-x86-64-posix wine64 wine nsis googletest
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
