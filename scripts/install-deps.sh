#!/usr/bin/env bash
# Installs every Debian package needed to build, test and run Murmex3, and the
# Czech UTF-8 locale the tests of the system's error texts use.
# Idempotent: does nothing (and prints nothing) when all of it is present.
#   scripts/install-deps.sh            the Linux build, its tests and the program
#   scripts/install-deps.sh windows    also the Windows cross compiler and Wine,
#                                      which `make test-windows` (and `make test`) use
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    clang clang-format libclang-rt-14-dev
    libgtest-dev googletest libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev qt6-translations-l10n
    libqt6svg6 qt6-qpa-plugins qt6-wayland qt6-image-formats-plugins
    libgl-dev libxss1 libx11-6 fonts-dejavu-core
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    xvfb xauth xdotool x11-utils x11-apps imagemagick iproute2 procps openbox trayer
    desktop-file-utils appstream dpkg-dev file
    dbus dbus-x11 at-spi2-core
    python3 python3-gi gir1.2-atspi-2.0 jq
    locales libc-l10n
)

# The core and its tests built for Windows and run under Wine (64-bit only:
# the wine64 loader is /usr/lib/wine/wine64). The preloader reserves the
# address ranges of a Windows process before the host's libraries can take them.
WINDOWS_PACKAGES=(
    g++-mingw-w64-x86-64-posix wine64 wine64-preloader
)

case "${1:-}" in
    "") ;;
    windows) PACKAGES+=("${WINDOWS_PACKAGES[@]}") ;;
    *) echo "usage: $0 [windows]" >&2; exit 2 ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
if [ ${#missing[@]} -ne 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The system's messages in Czech (libc-l10n) need the locales themselves.
if ! locale -a 2>/dev/null | grep -qix 'cs_CZ\.utf-\?8'; then
    echo "Generating the locale cs_CZ.UTF-8"
    $SUDO localedef -i cs_CZ -f UTF-8 cs_CZ.UTF-8
fi
if ! locale -a 2>/dev/null | grep -qix 'cs_CZ\.iso-\?8859-\?2'; then
    echo "Generating the locale cs_CZ.ISO-8859-2"
    $SUDO localedef -i cs_CZ -f ISO-8859-2 cs_CZ.ISO-8859-2
fi
