#!/bin/sh
# Installs the Debian packages that kestrel needs and that are not yet installed.
# Usage: scripts/install-deps.sh [build|test]
set -eu

packages="cmake make g++ pkg-config libfreeimage-dev zlib1g-dev libpango1.0-dev libcairo2-dev libglib2.0-dev fontconfig fonts-dejavu-core libseccomp-dev liblcms2-dev nlohmann-json3-dev mandoc"
# The windowed interface (a module the program loads only to open a window).
packages="$packages qt6-base-dev"
if [ "${1:-build}" = "test" ]; then
  packages="$packages googletest libgtest-dev imagemagick python3 python3-psd-tools python3-numpy python3-pil chromium man-db desktop-file-utils xvfb xdotool x11-utils openbox parallel"
  # File managers: the thumbnail sandbox, the MIME database and its query tools.
  packages="$packages bubblewrap shared-mime-info xdg-utils libfile-mimeinfo-perl"
  # A CMYK profile to embed in test files, and LittleCMS's transicc as the reference for profile conversions.
  packages="$packages libgs-common liblcms2-utils"
fi

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "kestrel: missing Debian packages:$missing (run as root, or install them yourself)" >&2
  exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
