#!/usr/bin/env bash
# Installs every package the build, the tests and the demo need: with apt-get on Debian and
# Ubuntu, with dnf on Fedora. Each dependency is looked for itself (command -v, pkg-config, a
# file), not in a package database, so nothing is installed when everything is present,
# however it came there. Safe to run again; waits for another apt/dpkg run to finish.
# With --package, also what making and checking the Debian package needs.
set -euo pipefail

have() {
  local command
  for command in "$@"; do command -v "$command" >/dev/null 2>&1 || return 1; done
}
pc() { have pkg-config && pkg-config --exists "$@"; }
qt_tool() { [ -x "$(pkg-config --variable=libexecdir Qt6Core 2>/dev/null)/$1" ]; }
font() { compgen -G "/usr/share/fonts/*/$1" >/dev/null || compgen -G "/usr/share/fonts/*/*/$1" >/dev/null; }

debian=()
fedora=()
# need <Debian packages> <Fedora packages> <test that finds it>...
need() {
  local deb=$1 rpm=$2
  shift 2
  "$@" && return 0
  read -ra words <<<"$deb" && debian+=("${words[@]}")
  read -ra words <<<"$rpm" && fedora+=("${words[@]}")
}
need build-essential "gcc-c++ make" have g++ make
need cmake cmake have cmake
need pkg-config pkgconf-pkg-config have pkg-config
need git git have git
need qt6-base-dev qt6-qtbase-devel pc Qt6Core Qt6Gui Qt6Widgets Qt6DBus Qt6Test
need qt6-base-dev-tools qt6-qtbase-devel qt_tool moc
need qt6-serialport-dev qt6-qtserialport-devel pc Qt6SerialPort
need libgl-dev mesa-libGL-devel pc gl
need libzip-dev libzip-devel pc libzip
need "unzip zip" "unzip zip" have unzip zip
need "xvfb xauth" "xorg-x11-server-Xvfb xorg-x11-xauth" have Xvfb xvfb-run xauth
need fonts-dejavu-core dejavu-sans-fonts font DejaVuSans.ttf
need python3 python3 have python3
need clang-format clang-tools-extra have clang-format
need desktop-file-utils desktop-file-utils have desktop-file-validate
need man-db man-db have man
need appstream appstream have appstreamcli
if [ "${1:-}" = --package ]; then
  need "dpkg-dev file" "dpkg-dev file" have dpkg-shlibdeps file
  need lintian "" have lintian
fi
[ ${#debian[@]} -eq 0 ] && exit 0

if have apt-get; then
  apt=(apt-get -o DPkg::Lock::Timeout=300 -y -q)
  commands=("${apt[*]} update"
    "${apt[*]} install --no-install-recommends $(printf '%s\n' "${debian[@]}" | sort -u | xargs)")
  environment=(env DEBIAN_FRONTEND=noninteractive)
elif have dnf; then
  commands=("dnf -y install $(printf '%s\n' "${fedora[@]}" | sort -u | xargs)")
  environment=(env)
else
  echo "Neither apt-get nor dnf was found. Install these packages (Debian names):" >&2
  printf '  %s\n' "${debian[@]}" >&2
  exit 1
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif have sudo; then
  as_root=(sudo)
else
  echo "Some packages are missing, and installing them needs root. Run as root:" >&2
  printf '  %s\n' "${commands[@]}" >&2
  exit 1
fi
for command in "${commands[@]}"; do
  read -ra words <<<"$command"
  "${as_root[@]}" "${environment[@]}" "${words[@]}"
done
