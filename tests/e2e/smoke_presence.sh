#!/usr/bin/env bash
# The real program, started under Xvfb with a fresh home in a network namespace
# of its own, announces itself: a socket on a second host hears its first
# presence datagram, and no second copy of it by another way.
#
#   smoke_presence.sh PROGRAM [--no-default-route]
#
# With --no-default-route the hosts have no default route, as on a LAN without
# a gateway: the limited broadcast 255.255.255.255 cannot leave, and the
# announcement must come by the directed broadcast of the hosts' network.
set -euo pipefail
MURMEX3="$1"
NO_ROUTE="${2:-}"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root

fail() {
    echo "FAIL: $*"
    cat "$E2E_TMP/smoke.log" 2>/dev/null || true
    exit 1
}
e2e_make_hosts $NO_ROUTE
trap 'e2e_stop_xvfb; e2e_cleanup' EXIT
BROADCAST="${E2E_ADDR_A%.*}.255"
if [ -n "$NO_ROUTE" ]; then
    ip -n "$E2E_HOST_A" route get 255.255.255.255 >/dev/null 2>&1 &&
        fail "host A has a route for the limited broadcast"
    ip -n "$E2E_HOST_A" route get "$BROADCAST" >/dev/null 2>&1 ||
        fail "host A has no route for $BROADCAST"
fi

ip netns exec "$E2E_HOST_B" python3 "$HERE/udp_listen.py" 15 1 >"$E2E_TMP/heard.txt" &
listener=$!
E2E_PIDS+=($listener)
e2e_wait_listening "$E2E_HOST_B" || fail "the listener did not start"
e2e_start_xvfb "$E2E_HOST_A" smoke
e2e_start_program "$E2E_HOST_A" "$XVFB_DISPLAY" smoke

wait "$listener" || fail "no presence datagram within 15 s"
echo "heard: $(cat "$E2E_TMP/heard.txt")"
# The next announcement is 5 s away: a second datagram within 1 s is a copy.
[ "$(wc -l <"$E2E_TMP/heard.txt")" -eq 1 ] || fail "the announcement arrived more than once"
heard="$(head -1 "$E2E_TMP/heard.txt")"
# sender, length, status, destination, name
read -r sender length status destination name <<<"$heard"
[ "$sender" = "$E2E_ADDR_A" ] || fail "sender $sender"
[ "$length" = "102" ] || fail "length $length"
[ "$status" = "0" ] || fail "status $status"
case "$destination" in
    "$BROADCAST") ;;
    255.255.255.255) [ -z "$NO_ROUTE" ] || fail "a limited broadcast left without a route" ;;
    *) fail "sent to $destination" ;;
esac
# A first run announces the logon name and the computer's short name.
expected="$(id -un)@$(hostname | cut -d. -f1 | cut -c1-15)"
[ "$name" = "$expected" ] || fail "name $name, expected $expected"
echo "PASS"
