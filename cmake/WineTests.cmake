# A Windows build made on Linux (cmake/MinGW-w64.cmake) runs its test programs
# under Wine: every target's CROSSCOMPILING_EMULATOR, and so every add_test()
# of a target and every gtest discovery, goes through the command below. The
# build has a Wine prefix of its own, made by the build itself, so a test run
# neither needs nor touches the user's ~/.wine. The tests talk over loopback
# only; the wineserver (which owns Wine's sockets) runs on this host's network.
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

if(MURMEX3_WINEPREFIX)
    # wineboot's notes (a 64-bit-only Wine misses its 32-bit half) go to a log.
    add_custom_command(OUTPUT ${MURMEX3_WINEPREFIX}/system.reg
        COMMAND sh -c "\"$@\" wineboot --init >wineboot.log 2>&1" sh ${CMAKE_CROSSCOMPILING_EMULATOR}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        COMMENT "Making the Wine prefix for the tests" VERBATIM)
    add_custom_target(wine_prefix ALL DEPENDS ${MURMEX3_WINEPREFIX}/system.reg)
endif()
