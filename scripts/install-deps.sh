#!/usr/bin/env bash
# Installs the Debian packages that building and testing QorCam needs.
# Run as root on Debian 12; QORCAM_SKIP_DEPS=1 skips it on a prepared machine.
set -euo pipefail
[ "${QORCAM_SKIP_DEPS:-0}" = 1 ] && exit 0
packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev libminizip-dev libpugixml-dev libusb-1.0-0-dev
  qt6-base-dev qt6-image-formats-plugins libgif-dev
  mono-devel nunit-console
  libgtest-dev libgmock-dev libbenchmark-dev
  aravis-tools libopencv-dev iproute2 iputils-ping nftables tshark
  busybox udhcpd libsystemd-dev dbus-daemon libaravis-dev
  xvfb xauth
  locales python3
  systemd
  lintian debootstrap systemd-container
)
if [ "$(id -u)" != 0 ]; then
  echo "install-deps: not root, assuming these packages are installed: ${packages[*]}" >&2
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${packages[@]}"
# Number texts are checked under a decimal-comma locale.
localedef -i de_DE -f UTF-8 de_DE.UTF-8
