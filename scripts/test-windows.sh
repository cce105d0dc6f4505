#!/usr/bin/env bash
# Builds the core, its tests and the fuzz-corpus replays for Windows with
# MinGW-w64 and runs them under Wine through ctest (`make test-windows`).
#   scripts/test-windows.sh [BUILD_DIR] [JOBS]     (default build/windows, nproc)
# The build has a Wine prefix of its own, BUILD_DIR/wine. Its wineserver and
# Wine's own processes (services.exe and the rest) are started here, before
# ctest, and kept until the run ends: started by a test, they would hold that
# test's output open until the last Wine program of the run had ended. The
# tests talk over loopback only, so the server (which owns Wine's sockets)
# runs on this host's network.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build/windows}"
JOBS="${2:-$(nproc)}"
WINE_DIR=/usr/lib/wine

bash scripts/install-deps.sh windows
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW-w64.cmake \
    -DCMAKE_BUILD_TYPE=Debug -DMURMEX3_WERROR=ON -DMURMEX3_BUILD_UI=OFF \
    -DMURMEX3_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS"

BUILD="$(cd "$BUILD" && pwd)"
# The same environment as the tests' emulator (cmake/WineTests.cmake).
export WINEPREFIX="$BUILD/wine" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
"$WINE_DIR/wineserver" -p
trap '"$WINE_DIR/wineserver" -k 2>/dev/null || true; "$WINE_DIR/wineserver" -w 2>/dev/null || true' EXIT
# Makes or updates the prefix and starts Wine's processes; its notes (this
# Wine has no 32-bit half) go to a log.
"$WINE_DIR/wine64" wineboot </dev/null >"$BUILD/wineboot.log" 2>&1

cd "$BUILD"
ctest --output-on-failure -j "$JOBS"
