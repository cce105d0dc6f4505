#!/usr/bin/env bash
# murmex3-cli watch under a flood. Host A runs `watch`, announcing itself every
# second; host B listens as a peer and plays PEERS peers, each with its own
# address, that flood A with their announcements as fast as they go. The test
# shows that in the flood
#  (a) watch announces itself every period and still hears the peers,
#  (b) a SIGTERM is answered with a goodbye on the wire and exit status 0
#      within 1 s,
# and prints the longest gap between its announcements and the time from the
# SIGTERM to the goodbye and to the exit.
#
#   cli_flood.sh CLI FLOOD_PEERS
set -euo pipefail
CLI="$(realpath "$1")"
FLOOD_PEERS="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root

PEERS=10000        # 10.213.1.1 upwards, short of the hosts' own 10.213.77.0/24
PERIOD=1           # watch's announcement period, from the desktop program's settings
FLOOD_SECONDS=7
TERM_AFTER=4       # seconds into the flood
GAP_LIMIT=2.0      # the period + 1 s
EXIT_LIMIT=1.0

fail() {
    echo "FAIL: $*"
    if [ -s "$E2E_TMP/watch.err" ]; then
        echo "--- watch's standard error:"
        tail -n 15 "$E2E_TMP/watch.err"
    fi
    exit 1
}
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
within() { awk -v t="$1" -v l="$2" 'BEGIN { exit !(t <= l) }'; }

e2e_make_hosts
trap 'exit 130' INT TERM HUP

# The peers' addresses on host B: 10.213.1.1 upwards, as flood_peers numbers them.
for i in $(seq 0 $((PEERS - 1))); do
    n=$((i + 257))
    echo "address add 10.213.$((n / 256)).$((n % 256))/32 dev ${E2E_TAG}vb"
done >"$E2E_TMP/addresses.batch"
ip -n "$E2E_HOST_B" -batch "$E2E_TMP/addresses.batch"

udp_drops() {  # datagrams host A dropped on a full receive buffer
    ip netns exec "$E2E_HOST_A" awk '/^Udp:/ { if (!h) { for (i = 2; i <= NF; i++) col[$i] = i
        h = 1 } else { print $col["RcvbufErrors"]; exit } }' /proc/net/snmp
}

# Host B: a peer (the first of the addresses) that writes down every datagram
# from A with its time.
touch "$E2E_TMP/events.log"
ip netns exec "$E2E_HOST_B" "$FLOOD_PEERS" peers --target "$E2E_ADDR_A" --count 1 \
    --period 3600 --log "$E2E_TMP/events.log" >"$E2E_TMP/listener.txt" 2>&1 &
E2E_PIDS+=($!)
e2e_wait_listening "$E2E_HOST_B" || fail "the listener on host B did not start"

# Host A: watch, with a fresh home whose settings announce every PERIOD s. The
# subshell writes down its exit status and time.
HOME_A="$E2E_TMP/home-watch"
mkdir -p "$HOME_A/.config/Quillory"
printf '[Settings]\nAboutMePeriod=%d\n' "$PERIOD" >"$HOME_A/.config/Quillory/Mrmx3.conf"
(
    ip netns exec "$E2E_HOST_A" env -i PATH="$PATH" HOME="$HOME_A" USER=watch LOGNAME=watch \
        ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} "$CLI" watch --json --name watcher \
        >"$E2E_TMP/watch.out" 2>"$E2E_TMP/watch.err" &
    echo $! >"$E2E_TMP/watch.pid"
    status=0
    wait $! || status=$?
    echo "$status $EPOCHREALTIME" >"$E2E_TMP/watch.exit"
) &
e2e_wait_until 10 test -s "$E2E_TMP/watch.pid"
WATCH=$(cat "$E2E_TMP/watch.pid")
E2E_PIDS+=("$WATCH")

announcements() {  # "<time> <status>" of each presence from A
    awk -v a="$E2E_ADDR_A" '$2 == a && $5 == 1 && $6 == 1 { print $1, $7 }' "$E2E_TMP/events.log"
}
announced() { [ "$(announcements | wc -l)" -ge 2 ]; }
e2e_wait_until 10 announced || fail "watch did not announce itself twice"

# --- the flood, and a SIGTERM in it -----------------------------------------------
drops0=$(udp_drops)
ip netns exec "$E2E_HOST_B" "$FLOOD_PEERS" flood --target "$E2E_ADDR_A" --count $PEERS \
    --kind unchanged --seconds $FLOOD_SECONDS >"$E2E_TMP/flood.txt" &
FLOOD=$!
E2E_PIDS+=($FLOOD)
flood_start=$EPOCHREALTIME
sleep $TERM_AFTER
term_at=$EPOCHREALTIME
kill -TERM "$WATCH"
kill -0 "$FLOOD" 2>/dev/null || fail "the flood ended before the SIGTERM"
drops1=$(udp_drops)

e2e_wait_until 10 test -s "$E2E_TMP/watch.exit" || fail "watch did not exit within 10 s of SIGTERM"
read -r status exit_at <"$E2E_TMP/watch.exit"
goodbye() { announcements | awk -v t="$term_at" '$1 > t && $2 == 4 { print $1; exit }'; }
said_goodbye() { [ -n "$(goodbye)" ]; }
e2e_wait_until 5 said_goodbye || fail "no goodbye on the wire after SIGTERM"
wait "$FLOOD"

# --- figures and checks ------------------------------------------------------------
to_goodbye=$(calc "$(goodbye) - $term_at")
to_exit=$(calc "$exit_at - $term_at")
# The longest stretch without an announcement from the last one before the
# flood to the SIGTERM.
read -r during longest < <(announcements | awk -v s="$flood_start" -v e="$term_at" '
    $2 != 0 { next }
    $1 < s { last = $1; next }
    $1 <= e { if ($1 - last > max) max = $1 - last; last = $1; n++ }
    END { if (e - last > max) max = e - last; printf "%d %.3f\n", n, max }')
# Events of the flood's peers, the listening peer's aside.
heard=$(grep '"address":"10\.213\.' "$E2E_TMP/watch.out" | grep -vc '"address":"10\.213\.1\.1"' ||
    true)
echo "$(grep '^flood:' "$E2E_TMP/flood.txt"); from $PEERS peers"
echo "FIGURE watch in the flood: $during announcements in $(calc "$term_at - $flood_start") s," \
    "longest gap $longest s (period $PERIOD s); $heard events of the flood's peers printed;" \
    "$((drops1 - drops0)) datagrams dropped on its full receive buffer"
echo "FIGURE SIGTERM in the flood: goodbye on the wire after $to_goodbye s," \
    "exit status $status after $to_exit s"

within "$longest" "$GAP_LIMIT" || fail "watch was silent for $longest s in the flood"
[ "$heard" -gt 0 ] || fail "watch printed nothing of the flood's peers"
[ "$status" -eq 0 ] || fail "watch ended with status $status"
within "$to_goodbye" "$EXIT_LIMIT" || fail "the goodbye came $to_goodbye s after SIGTERM"
within "$to_exit" "$EXIT_LIMIT" || fail "watch took $to_exit s to exit after SIGTERM"
if grep -E "ERROR: AddressSanitizer|runtime error:|LeakSanitizer" "$E2E_TMP/watch.err"; then
    fail "the sanitizers reported errors"
fi
echo "PASS"
