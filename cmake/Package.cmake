# The Debian package of the desktop program and murmex3-cli: `make package`
# (cpack -G DEB in build/release) gives murmex3_<version>_<arch>.deb with
# everything `make install` lays out, under /usr. The libraries it links come from
# dpkg-shlibdeps; the depends below are what it loads at run time.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME murmex3)
set(CPACK_PACKAGE_VENDOR "The Murmex3 developers")
set(CPACK_PACKAGE_CONTACT "The Murmex3 developers <murmex3@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "messenger for the people on one local network")
set(CPACK_PACKAGE_DESCRIPTION
    "Murmex3 needs no server: every running copy is a peer. It lists the users of\n"
    "the local network, grouped by the group each of them chooses, with their\n"
    "status, and exchanges short text messages, typing notices and bell nudges.\n"
    "Its user interface is Czech. Messages travel unencrypted on the network.\n"
    "murmex3-cli, a peer without a window, lets scripts and servers list the\n"
    "users, send messages and bells, and log what happens on the network.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins show the windows, qt6-wayland's natively in a Wayland
# session; libX11 and libXss tell the idle time under X11 (loaded with dlopen).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland, libx11-6, libxss1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-translations-l10n, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")

include(CPack)
