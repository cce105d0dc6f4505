#!/usr/bin/env bash
# The Debian package: `make package` builds it (once, in build/release, which
# `make run` shares), its dependencies resolve for apt, it holds the program,
# its sounds, desktop entry, icon, manual pages, AppStream data and
# murmex3-cli, and the program unpacked from it into a fresh prefix starts
# from any folder and announces itself.
#
#   package.sh SOURCE_ROOT
set -euo pipefail
ROOT="$(realpath "$1")"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/installed_files.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root (network namespaces, the package build's installs)"
    exit 77
fi
for tool in cpack dpkg-deb apt-get dpkg-shlibdeps appstreamcli; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
PREFIX="$(mktemp -d /tmp/murmex3-package.XXXXXX)"
trap 'rm -rf "$PREFIX"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

rm -f "$ROOT"/build/release/murmex3_*.deb
make -C "$ROOT" --no-print-directory package JOBS=2 >"$PREFIX/package.log" 2>&1 || {
    tail -20 "$PREFIX/package.log"; fail "make package"; }
debs=("$ROOT"/build/release/murmex3_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -s "${debs[0]}" ] || fail "no single package: ${debs[*]}"
deb="${debs[0]}"
echo "package: $(basename "$deb")"

# apt accepts it as it is: every dependency resolves on this system.
apt-get install --simulate -q "$deb" >"$PREFIX/apt.log" 2>&1 || {
    cat "$PREFIX/apt.log"; fail "apt-get cannot install it"; }
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libqt6widgets6 libqt6dbus6 libc6 qt6-qpa-plugins qt6-wayland libxss1; do
    [[ ", $depends," == *", $library"[\ ,]* ]] || fail "Depends lacks $library: $depends"
done

dpkg-deb -x "$deb" "$PREFIX/root"
cd "$PREFIX/root/usr"
for f in "${INSTALLED_FILES[@]}"; do
    [ -s "$f" ] || fail "$f is missing"
done
appstreamcli validate --no-net share/metainfo/org.murmex3.murmex3.metainfo.xml >/dev/null ||
    fail "the AppStream data does not validate"
zcat share/man/man1/murmex3.1.gz | grep -q '^\.TH MURMEX3 1' || fail "the manual page"
zcat share/man/man1/murmex3-cli.1.gz | grep -q '^\.TH MURMEX3-CLI 1' || fail "the CLI's manual page"
version="$(bin/murmex3 --version)"
[ "$version" = "murmex3 $(dpkg-deb -f "$deb" Version)" ] || fail "--version says '$version'"
version="$(bin/murmex3-cli --version)"
[ "$version" = "murmex3-cli $(dpkg-deb -f "$deb" Version)" ] ||
    fail "murmex3-cli --version says '$version'"
echo "contents: ok"

# Started from the root folder, it finds its sounds and comes up.
cd /
E2E_WORKDIR=/ bash "$HERE/smoke_presence.sh" "$PREFIX/root/usr/bin/murmex3"
