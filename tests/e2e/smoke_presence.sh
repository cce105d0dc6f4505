#!/usr/bin/env bash
# The real program, started under Xvfb with a fresh home in a network namespace
# of its own, announces itself: a socket on a second host hears its first
# presence datagram.
set -euo pipefail
MURMEX3="$1"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root
e2e_make_hosts

ip netns exec "$E2E_HOST_B" python3 "$HERE/udp_listen.py" 15 >"$E2E_TMP/heard.txt" &
listener=$!
E2E_PIDS+=($listener)
sleep 0.3
e2e_start_display "$E2E_HOST_A" 71
e2e_start_program "$E2E_HOST_A" 71 smoke

if ! wait "$listener"; then
    echo "FAIL: no presence datagram within 15 s"
    cat "$E2E_TMP/smoke.log" || true
    exit 1
fi
heard="$(cat "$E2E_TMP/heard.txt")"
echo "heard: $heard"
# sender, length, status, name
read -r sender length status name <<<"$heard"
[ "$sender" = "$E2E_ADDR_A" ] || { echo "FAIL: sender $sender"; exit 1; }
[ "$length" = "102" ] || { echo "FAIL: length $length"; exit 1; }
[ "$status" = "0" ] || { echo "FAIL: status $status"; exit 1; }
# A first run announces the logon name and the computer's short name.
expected="$(id -un)@$(hostname | cut -d. -f1 | cut -c1-15)"
[ "$name" = "$expected" ] || { echo "FAIL: name $name, expected $expected"; exit 1; }
echo "PASS"
