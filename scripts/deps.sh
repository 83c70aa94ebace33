#!/bin/sh
# Installs the Debian 12 packages Velmora needs to build and test, only those
# that are missing. Runs apt-get as root, or through sudo.
set -eu

PACKAGES="build-essential cmake ninja-build pkg-config
  libjpeg-dev libpng-dev zlib1g-dev
  libtiff-dev libgif-dev libwebp-dev libheif-dev libopenjp2-7-dev libraw-dev libexif-dev
  qt6-base-dev
  libgtest-dev libbenchmark-dev"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null 2>&1; then
  SUDO="sudo"
else
  echo "velmora: missing packages:$missing; run as root or install sudo" >&2
  exit 1
fi
echo "velmora: installing$missing" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
