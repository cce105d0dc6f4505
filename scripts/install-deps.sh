#!/usr/bin/env bash
# Installs every Debian package needed to build, test and run Murmex3.
# Idempotent: does nothing (and prints nothing) when all packages are present.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    clang clang-format libclang-rt-14-dev
    libgtest-dev googletest libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev
    libqt6svg6 qt6-qpa-plugins qt6-image-formats-plugins
    libgl-dev libxss1 libx11-6 fonts-dejavu-core
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    xvfb xauth xdotool x11-utils x11-apps imagemagick desktop-file-utils iproute2 procps
    dbus dbus-x11 at-spi2-core
    python3 python3-gi gir1.2-atspi-2.0
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
