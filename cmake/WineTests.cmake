# A Windows build made on Linux (cmake/MinGW-w64.cmake) runs its test programs
# under Wine: every target's CROSSCOMPILING_EMULATOR, and so every add_test()
# of a target and every gtest discovery, goes through the command below. The
# build has a Wine prefix of its own (<build>/wine), so a test run neither
# needs nor touches the user's ~/.wine. scripts/test-windows.sh makes it and
# starts its wineserver before ctest runs.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(MURMEX3_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
    if(NOT MURMEX3_WINE64)
        message(FATAL_ERROR "wine64 not found: scripts/install-deps.sh windows installs it")
    endif()
    set(MURMEX3_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
    # No display (nothing here opens a window), no debug channels, and no
    # offer to install Mono or Gecko into the prefix.
    set(CMAKE_CROSSCOMPILING_EMULATOR env -u DISPLAY -u WAYLAND_DISPLAY
        WINEPREFIX=${MURMEX3_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
        ${MURMEX3_WINE64})
endif()
