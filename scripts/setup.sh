#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Safe to run again; waits for another apt/dpkg run to finish instead of failing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
  libzip-dev unzip zip
  xvfb xauth fonts-dejavu-core
  python3 clang-format
  desktop-file-utils man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
apt_opts=(-o DPkg::Lock::Timeout=300 -y -q)
$sudo apt-get "${apt_opts[@]}" update
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${apt_opts[@]}" install --no-install-recommends "${missing[@]}"
