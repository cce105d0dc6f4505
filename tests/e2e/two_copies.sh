#!/usr/bin/env bash
# Two copies of the real program on two hosts of their own, each on its own
# X display, driven through the accessibility bus and xdotool by
# two_copies.py. This script makes the hosts, the displays and the buses and
# removes them again; the checks are in the Python driver. With --routed the
# hosts stand on two subnets joined by a router, which forwards no broadcast.
#
#   two_copies.sh PROGRAM [--routed]
set -euo pipefail
MURMEX3="$(realpath "$1")"
ROUTED="${2:-}"
case "$ROUTED" in
    "" | --routed) ;;
    *) echo "usage: two_copies.sh PROGRAM [--routed]"; exit 2 ;;
esac
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root

# The driver needs the GObject bindings of the accessibility library; the
# interpreter first on PATH may be one without them.
PYTHON=""
for candidate in python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null &&
        "$candidate" -c "import gi; gi.require_version('Atspi', '2.0')
from gi.repository import Atspi" 2>/dev/null; then
        PYTHON="$(command -v "$candidate")"
        break
    fi
done
BUS_LAUNCHER=/usr/libexec/at-spi-bus-launcher
missing=()
[ -n "$PYTHON" ] || missing+=("python3-gi gir1.2-atspi-2.0")
[ -x "$BUS_LAUNCHER" ] || missing+=("at-spi2-core")
for tool in xdotool Xvfb dbus-daemon; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "SKIP: missing ${missing[*]} (scripts/install-deps.sh installs them)"
    exit 77
fi

e2e_make_hosts $ROUTED
DRIVER_PIDS="$E2E_TMP/driver.pids"
BUS_MARK="MURMEX3_E2E_BUS=$E2E_TAG"
: >"$DRIVER_PIDS"

two_copies_cleanup() {
    local status=$?
    e2e_end_driver_pids
    e2e_cleanup
    e2e_end_marked
    exit "$status"
}
trap two_copies_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# One display per host: start_display HOST VAR. The number is chosen here, not
# by the server: a server in a namespace of its own finds its abstract socket
# free and would take a number that a server elsewhere already has. The lock
# file decides; it must name our server.
start_display() {
    local host="$1" number pid
    for number in $(seq 90 199); do
        if [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; then
            continue
        fi
        ip netns exec "$host" Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp -noreset \
            >"$E2E_TMP/xvfb$number.log" 2>&1 &
        pid=$!
        for _ in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            if [ -S "/tmp/.X11-unix/X$number" ] &&
                [ "$(tr -d ' \n' <"/tmp/.X$number-lock" 2>/dev/null)" = "$pid" ]; then
                E2E_PIDS+=("$pid")
                printf -v "$2" '%s' "$number"
                return 0
            fi
            sleep 0.05
        done
        kill "$pid" 2>/dev/null || true
    done
    echo "no X display could be started on $host"
    return 1
}
DISPLAY_A=""
DISPLAY_B=""
start_display "$E2E_HOST_A" DISPLAY_A
start_display "$E2E_HOST_B" DISPLAY_B

e2e_start_session_buses "$PYTHON"

"$PYTHON" "$HERE/two_copies.py" \
    --program "$MURMEX3" --tmp "$E2E_TMP" --pid-file "$DRIVER_PIDS" \
    --host-a "$E2E_HOST_A" --host-b "$E2E_HOST_B" \
    --addr-a "$E2E_ADDR_A" --addr-b "$E2E_ADDR_B" \
    --link-a "${E2E_TAG}va" \
    --display-a "$DISPLAY_A" --display-b "$DISPLAY_B" $ROUTED
