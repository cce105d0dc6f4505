#!/usr/bin/env bash
# `cmake --install` lays out the program, its sounds, a desktop entry, an
# icon, the manual pages, the AppStream data and murmex3-cli in the usual
# places, and the installed programs run from any folder.
set -euo pipefail
BUILD="$1"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/installed_files.sh"
PREFIX="$(mktemp -d /tmp/murmex3-install.XXXXXX)"
trap 'rm -rf "$PREFIX"' EXIT

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
for f in "${INSTALLED_FILES[@]}"; do
    [ -s "$PREFIX/$f" ] || { echo "FAIL: $f is missing"; exit 1; }
done
[ -x "$PREFIX/bin/murmex3" ] || { echo "FAIL: the program is not executable"; exit 1; }
version="$(cd / && "$PREFIX/bin/murmex3-cli" --version)"
[ "$version" = "$("$PREFIX/bin/murmex3" --version | sed 's/^murmex3 /murmex3-cli /')" ] || {
    echo "FAIL: murmex3-cli --version says '$version'"; exit 1; }
grep -qx 'Exec=murmex3' "$PREFIX/share/applications/murmex3.desktop" || {
    echo "FAIL: desktop entry"; exit 1; }
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$PREFIX/share/applications/murmex3.desktop"
fi
echo "layout: ok"

# Started from the root folder, far from its files, it still comes up and announces.
E2E_WORKDIR=/ bash "$HERE/smoke_presence.sh" "$PREFIX/bin/murmex3"
