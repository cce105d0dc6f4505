#!/usr/bin/env bash
# murmex3-cli on one host against the desktop program on the other, under
# Xvfb with the accessibility bus. With --wine the CLI is the Windows build
# under Wine, in a prefix of its own whose wineserver (the owner of Wine's
# sockets) runs inside the CLI's host. With --routed the hosts stand on two
# subnets joined by a router that forwards no broadcast: the program lists the
# CLI's host among its extra addresses and the CLI is given the program's host
# with --also. The checks are in cli_peer.py.
#
#   cli_peer.sh PROGRAM CLI [--wine] [--routed]
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
WINE_MODE=""
ROUTED=""
for option in "${@:3}"; do
    case "$option" in
        --wine) WINE_MODE=--wine ;;
        --routed) ROUTED=--routed ;;
        *) echo "usage: $0 PROGRAM CLI [--wine] [--routed]" >&2; exit 2 ;;
    esac
done
# Before netns.sh, which makes the run's temporary folder.
[ -x "$1" ] || { echo "SKIP: no desktop program at $1 (the Linux build makes it)"; exit 77; }
source "$HERE/netns.sh"
e2e_require_root
MURMEX3="$(realpath "$1")"
CLI="$(realpath "$2")"
WINE_DIR=/usr/lib/wine

# The driver needs the system's Python, which has the accessibility bindings.
PYTHON=/usr/bin/python3
BUS_LAUNCHER=/usr/libexec/at-spi-bus-launcher
missing=()
"$PYTHON" -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null ||
    missing+=("python3-gi gir1.2-atspi-2.0")
[ -x "$BUS_LAUNCHER" ] || missing+=("at-spi2-core")
for tool in xdotool xkbcomp Xvfb dbus-daemon jq; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
[ -z "$WINE_MODE" ] || [ -x "$WINE_DIR/wine64" ] || missing+=("wine64")
if [ ${#missing[@]} -gt 0 ]; then
    echo "SKIP: missing ${missing[*]} (scripts/install-deps.sh installs them)"
    exit 77
fi

e2e_make_hosts $ROUTED
DRIVER_PIDS="$E2E_TMP/driver.pids"
BUS_MARK="MURMEX3_E2E_BUS=$E2E_TAG"
: >"$DRIVER_PIDS"
export WINEPREFIX="$E2E_TMP/wine" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=

fail() { echo "FAIL: $*"; exit 1; }

cli_cleanup() {
    local status=$?
    e2e_end_driver_pids
    if [ -n "$WINE_MODE" ] && [ -d "$WINEPREFIX" ]; then
        ip netns exec "$E2E_HOST_B" "$WINE_DIR/wineserver" -k 2>/dev/null || true
        ip netns exec "$E2E_HOST_B" "$WINE_DIR/wineserver" -w 2>/dev/null || true
    fi
    e2e_stop_xvfb
    e2e_cleanup
    e2e_end_marked
    exit "$status"
}
trap cli_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

e2e_start_xvfb "$E2E_HOST_A" program

e2e_start_session_buses "$PYTHON"

if [ -n "$WINE_MODE" ]; then
    # Wine's sockets are its wineserver's: the server, and with it Wine's own
    # processes, start inside host B.
    mkdir -p "$WINEPREFIX"
    ip netns exec "$E2E_HOST_B" "$WINE_DIR/wineserver" -p
    ip netns exec "$E2E_HOST_B" env -u DISPLAY "$WINE_DIR/wine64" wineboot </dev/null \
        >"$E2E_TMP/wineboot.log" 2>&1 || fail "wineboot: $(tail -5 "$E2E_TMP/wineboot.log")"
    # Across the router the Windows CLI finds host A in the desktop program's
    # settings, which Windows keeps in the registry.
    if [ -n "$ROUTED" ]; then
        ip netns exec "$E2E_HOST_B" env -u DISPLAY "$WINE_DIR/wine64" reg add \
            'HKCU\Software\Quillory\Mrmx3\Settings' /v ExtraAddresses /t REG_SZ \
            /d "$E2E_ADDR_A" /f </dev/null >"$E2E_TMP/reg.log" 2>&1 ||
            fail "reg add: $(tail -5 "$E2E_TMP/reg.log")"
    fi
fi

"$PYTHON" "$HERE/cli_peer.py" \
    --program "$MURMEX3" --cli "$CLI" --tmp "$E2E_TMP" --pid-file "$DRIVER_PIDS" \
    --host-a "$E2E_HOST_A" --host-b "$E2E_HOST_B" \
    --addr-a "$E2E_ADDR_A" --addr-b "$E2E_ADDR_B" --display-a "$XVFB_DISPLAY" \
    $WINE_MODE $ROUTED
