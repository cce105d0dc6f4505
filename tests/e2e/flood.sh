#!/usr/bin/env bash
# The real program under a flood. Host A runs the program (Xvfb, its own session
# and accessibility bus, a fresh home); host B plays 1,000 peers, each with its
# own address, announcing every 5 s. Once all of them are listed, B floods A for
# 8 s with a mix of valid and malformed datagrams. The test shows that
#  (a) the tree lists every peer exactly once (read through AT-SPI), before
#      and after the flood,
#  (b) the program keeps announcing itself on time during the flood,
#  (c) right after the flood it answers the user: its boxes close, a double
#      click opens a conversation, the bell and a typed message reach the peer,
#  (d) at most one error box is open at any moment of the flood,
#  (e) its resident memory stays bounded,
# and prints how many datagrams a second it absorbed, against what was offered
# and what a receiver that only reads absorbs on the same hosts.
# With --tray, a system tray (trayer) runs on the display before the program
# starts, as on most desktops: the program's icon must dock in it, a click on
# the icon shows the main window, and notifications are balloons, not boxes.
# With --groups, the 1,000 peers sit in 1,000 groups and the flood is one peer
# announcing itself in a new group in every datagram: the tree lists the peers'
# 1,000 groups and nothing else, before and after.
#
#   flood.sh PROGRAM FLOOD_PEERS [--tray | --groups]
set -euo pipefail
MURMEX3="$(realpath "$1")"
FLOOD_PEERS="$(realpath "$2")"
TRAY=0
GROUP_COUNT=10
KIND=mixed
case "${3:-}" in
--tray) TRAY=1 ;;
--groups) GROUP_COUNT=1000 KIND=wander ;;
esac
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root

PEERS=1000
FLOOD_SECONDS=8
PERIOD=5
GAP_LIMIT=6.0       # the announcement period + 1 s
ANSWER_LIMIT=1.0    # seconds for each answer to the user after the flood
RSS_LIMIT_MB=150    # peak, with the peers listed and through the flood
GROWTH_LIMIT_MB=64  # from the peers listed to after the flood

fail() {
    echo "FAIL: $*"
    [ -s "$E2E_TMP/program.log" ] && { echo "--- program.log:"; tail -15 "$E2E_TMP/program.log"; }
    exit 1
}
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
elapsed() { calc "$EPOCHREALTIME - $1"; }
within() { awk -v t="$1" -v l="$2" 'BEGIN { exit !(t <= l) }'; }

# --- tools -------------------------------------------------------------------------
PY=""
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import gi; gi.require_version("Atspi", "2.0")
from gi.repository import Atspi' 2>/dev/null; then
        PY="$(command -v "$candidate")"
        break
    fi
done
LAUNCHER=""
for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
    [ -x "$candidate" ] && LAUNCHER="$candidate" && break
done
TOOLS=(Xvfb xdotool dbus-daemon)
[ $TRAY -eq 0 ] || TOOLS+=(trayer xwininfo)
for tool in "${TOOLS[@]}"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -n "$PY" ] || { echo "SKIP: needs python3-gi and gir1.2-atspi-2.0"; exit 77; }
[ -n "$LAUNCHER" ] || { echo "SKIP: needs at-spi2-core (at-spi-bus-launcher)"; exit 77; }

# --- hosts, and a teardown that leaves nothing behind ------------------------------
e2e_make_hosts
PROG=0
flood_cleanup() {
    set +e
    if [ "$PROG" -gt 0 ] && kill -0 "$PROG" 2>/dev/null; then
        kill -TERM "$PROG"
        for _ in $(seq 1 50); do kill -0 "$PROG" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$PROG" 2>/dev/null
    fi
    e2e_stop_xvfb
    # Everything still running on our hosts was started by this test.
    for signal in TERM KILL; do
        for host in "$E2E_HOST_A" "$E2E_HOST_B"; do
            for pid in $(ip netns pids "$host" 2>/dev/null); do
                kill -$signal "$pid" 2>/dev/null
            done
        done
        sleep 0.3
    done
    e2e_cleanup
}
trap flood_cleanup EXIT
trap 'exit 130' INT TERM HUP

# The peers' addresses on host B: 10.213.1.1 upwards.
peer_name() { printf 'user%04d@PC%04d' $(($1 + 1)) $(($1 + 1)); }
peer_address() { local n=$(($1 + 257)); echo "10.213.$((n / 256)).$((n % 256))"; }
for i in $(seq 0 $((PEERS - 1))); do
    echo "address add $(peer_address "$i")/32 dev ${E2E_TAG}vb"
done >"$E2E_TMP/addresses.batch"
ip -n "$E2E_HOST_B" -batch "$E2E_TMP/addresses.batch"

udp_counters() {  # InDatagrams RcvbufErrors of a host, from its /proc/.../net/snmp
    awk '/^Udp:/ { if (!h) { for (i = 2; i <= NF; i++) col[$i] = i; h = 1 } else {
        print $col["InDatagrams"], $col["RcvbufErrors"]; exit } }'
}
socket_queue() {  # bytes queued and drops of the socket on port 23654 (0x5C66)
    local queue drops
    read -r queue drops < <(awk '$2 ~ /:5C66$/ { split($5, q, ":"); print q[2], $NF; exit }')
    echo "$((16#$queue)) $drops"
}

# --- the kernel's own limit: a receiver that only reads, on the same hosts ---------
ip netns exec "$E2E_HOST_A" "$FLOOD_PEERS" sink --seconds $((FLOOD_SECONDS + 2)) \
    >"$E2E_TMP/sink.txt" &
sink=$!
E2E_PIDS+=($sink)
e2e_wait_listening "$E2E_HOST_A" || fail "the calibration's receiver did not start"
read -r sink_in0 sink_err0 < <(ip netns exec "$E2E_HOST_A" cat /proc/net/snmp | udp_counters)
ip netns exec "$E2E_HOST_B" "$FLOOD_PEERS" flood --target "$E2E_ADDR_A" --count $PEERS \
    --seconds $FLOOD_SECONDS --no-groups >"$E2E_TMP/calibration.txt"
wait "$sink"
read -r sink_in1 sink_err1 < <(ip netns exec "$E2E_HOST_A" cat /proc/net/snmp | udp_counters)
calibration_offered=$(awk '/^flood:/ { print $2 }' "$E2E_TMP/calibration.txt")
sink_read=$(awk '/^sink:/ { print $2 }' "$E2E_TMP/sink.txt")

# --- host A: display, session and accessibility bus, the program -------------------
e2e_start_xvfb "$E2E_HOST_A" flood
DISPLAY_NUM=$XVFB_DISPLAY
HOME_A="$E2E_TMP/home-flood"
mkdir -m 700 -p "$HOME_A"
BUS="unix:path=$E2E_TMP/session-bus"
IN_A=(ip netns exec "$E2E_HOST_A" env -i PATH="$PATH" HOME="$HOME_A" XDG_RUNTIME_DIR="$HOME_A"
    DISPLAY=":$DISPLAY_NUM" DBUS_SESSION_BUS_ADDRESS="$BUS")
in_a() { "${IN_A[@]}" "$@"; }
atspi() { in_a "$PY" "$HERE/atspi_tree.py" --pid "$PROG" "$@"; }
x() { DISPLAY=":$DISPLAY_NUM" xdotool "$@"; }
in_a dbus-daemon --session --address="$BUS" --fork --print-pid=1 >"$E2E_TMP/bus.pid"
E2E_PIDS+=($(cat "$E2E_TMP/bus.pid"))
in_a "$LAUNCHER" --launch-immediately >"$E2E_TMP/a11y.log" 2>&1 &
E2E_PIDS+=($!)

# The tray, up before the program starts: the program looks for one only then.
windows() { DISPLAY=":$DISPLAY_NUM" xwininfo -root -tree 2>/dev/null; }
tray_icon() {  # "x y" of the middle of the program's icon in the tray's panel
    windows | awk '/\("panel" "trayer"\)/ { match($0, /^ */); depth = RLENGTH; inside = 1; next }
        inside { match($0, /^ */); if (RLENGTH <= depth) inside = 0 }
        inside && /\("murmex3" / { split($(NF - 1), size, /[x+]/); split($NF, at, "+")
            print at[2] + int(size[1] / 2), at[3] + int(size[2] / 2); exit }'
}
if [ $TRAY -eq 1 ]; then
    in_a trayer >"$E2E_TMP/trayer.log" 2>&1 &
    E2E_PIDS+=($!)
    for _ in $(seq 1 100); do
        windows | grep -qF '("panel" "trayer")' && break
        sleep 0.05
    done
    windows | grep -qF '("panel" "trayer")' || fail "the tray's panel did not appear"
    sleep 0.5  # the panel shows first, the tray's selection is taken just after
fi

# Host A: the program's announcements as they leave it, so that one the flood
# crowds out on the way to host B still counts as sent.
ip netns exec "$E2E_HOST_A" python3 "$HERE/sent_presence.py" "$E2E_ADDR_A" \
    >"$E2E_TMP/presence.log" 2>"$E2E_TMP/presence.err" &
E2E_PIDS+=($!)
presence_ready() { grep -q ready "$E2E_TMP/presence.err"; }
e2e_wait_until 10 presence_ready || fail "the capture of the program's announcements did not start"

# Host B: the peers, and a log of everything the program sends them.
touch "$E2E_TMP/events.log"
ip netns exec "$E2E_HOST_B" "$FLOOD_PEERS" peers --target "$E2E_ADDR_A" --count $PEERS \
    --period $PERIOD --groups $GROUP_COUNT --log "$E2E_TMP/events.log" >"$E2E_TMP/peers.txt" 2>&1 &
E2E_PIDS+=($!)

# The sounds are found beside the program. Every step execs, so $! is the program.
# Under the address sanitizer a small quarantine: the memory it holds back
# after frees (256 MiB by default) would count as the program's own.
(cd "$(dirname "$MURMEX3")" && exec "${IN_A[@]}" USER=flood LOGNAME=flood \
    QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:quarantine_size_mb=16}" "$MURMEX3" \
    >"$E2E_TMP/program.log" 2>&1) &
PROG=$!

program_presence() {  # "<time> <status> <name>|<group>" of each of the program's announcements
    cat "$E2E_TMP/presence.log"
}
for _ in $(seq 1 150); do
    [ -n "$(program_presence)" ] && break
    sleep 0.1
done
[ -n "$(program_presence)" ] || { cat "$E2E_TMP/program.log"; fail "no presence from the program"; }
[ "$(cat /proc/$PROG/comm)" = "murmex3" ] || fail "process $PROG is not the program"
if [ $TRAY -eq 1 ]; then
    # Docked, its main window hidden; a click on the icon shows the window.
    for _ in $(seq 1 100); do
        [ -n "$(tray_icon)" ] && break
        sleep 0.1
    done
    read -r ix iy < <(tray_icon) || fail "the program's icon did not dock in the tray"
    murmex3_windows() { x search --onlyvisible --classname '^murmex3$' 2>/dev/null | wc -l; }
    [ "$(murmex3_windows)" -eq 1 ] || fail "more than the tray icon is on the screen at start"
    x mousemove "$ix" "$iy" click 1
    for _ in $(seq 1 50); do
        [ "$(murmex3_windows)" -ge 2 ] && break
        sleep 0.1
    done
    [ "$(murmex3_windows)" -ge 2 ] || fail "a click on the tray icon did not show the main window"
    echo "tray: the program's icon docked in the tray at $ix,$iy; a click on it showed the" \
        "main window"
fi

# --- (a) every peer listed, read through the accessibility bus ---------------------
atspi --timeout 20 wait-app >/dev/null || fail "the program is not on the accessibility bus"
on_bus_at=$EPOCHREALTIME
for i in $(seq 0 $((PEERS - 1))); do peer_name "$i"; echo; done | sort >"$E2E_TMP/expected.txt"
check_listing() {  # $1: when
    atspi --timeout 30 wait-items $PEERS >"$E2E_TMP/count.txt" ||
        fail "$1 the tree lists $(cat "$E2E_TMP/count.txt") peers, not $PEERS"
    atspi tree-items >"$E2E_TMP/tree.txt"
    awk -F'\t' '$1 == "item" { print $2 }' "$E2E_TMP/tree.txt" | sort >"$E2E_TMP/listed.txt"
    if ! cmp -s "$E2E_TMP/expected.txt" "$E2E_TMP/listed.txt"; then
        diff "$E2E_TMP/expected.txt" "$E2E_TMP/listed.txt" | head -20
        fail "$1 the tree's peers are not the $PEERS peers, each once"
    fi
    local format=Skupina%02d
    [ "$GROUP_COUNT" -lt 100 ] || format=Skupina%04d
    for g in $(seq 1 "$GROUP_COUNT"); do printf "$format\n" "$g"; done | sort >"$E2E_TMP/groups.txt"
    awk -F'\t' '$1 == "group" { print $2 }' "$E2E_TMP/tree.txt" | sort >"$E2E_TMP/rows.txt"
    local groups
    groups=$(wc -l <"$E2E_TMP/rows.txt")
    # Only the mixed flood's group assignments add groups of the program's own.
    if [ "$1" = "before the flood" ] || [ "$KIND" = wander ]; then
        cmp -s "$E2E_TMP/groups.txt" "$E2E_TMP/rows.txt" ||
            fail "$1 the tree's $groups group rows are not the peers' $GROUP_COUNT groups"
    else
        comm -23 "$E2E_TMP/groups.txt" "$E2E_TMP/rows.txt" | grep -q . &&
            fail "$1 a group of the peers is not listed"
    fi
    echo "listed $1: $PEERS peers, each once, under $groups group rows (read through" \
        "AT-SPI): $(head -12 "$E2E_TMP/rows.txt" | awk '{ printf "%s\"%s\"", (n++ ? " " : ""), $0 }')"
}
check_listing "before the flood"
echo "listing complete $(elapsed "$on_bus_at") s after the program came on the bus"
sleep 1
rss_peers=$(awk '/^VmRSS:/ { print $2 }' /proc/$PROG/status)

# --- the flood -------------------------------------------------------------------------
cpu_ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' /proc/$PROG/stat; }
read -r in0 err0 < <(udp_counters </proc/$PROG/net/snmp)
read -r _ drops0 < <(socket_queue </proc/$PROG/net/udp)
cpu0=$(cpu_ticks)
: >"$E2E_TMP/boxes.txt"
(   # (d) the boxes on the screen, as the X server has them, every 50 ms
    while [ ! -e "$E2E_TMP/flood.done" ]; do
        errors=$(x search --onlyvisible --name '^(Error|Mrmx3)$' 2>/dev/null | paste -sd' ' ||
            true)
        notes=$(x search --onlyvisible --name '^Murmex3 - ' 2>/dev/null | paste -sd' ' || true)
        echo "$EPOCHREALTIME|$errors|$notes" >>"$E2E_TMP/boxes.txt"
        sleep 0.05
    done
) &
watcher=$!
E2E_PIDS+=($watcher)
flood_start=$EPOCHREALTIME
ip netns exec "$E2E_HOST_B" "$FLOOD_PEERS" flood --target "$E2E_ADDR_A" --count $PEERS \
    --groups $GROUP_COUNT --kind $KIND --seconds $FLOOD_SECONDS >"$E2E_TMP/flood.txt"
flood_end=$EPOCHREALTIME
read -r in1 err1 < <(udp_counters </proc/$PROG/net/snmp)
read -r queue1 drops1 < <(socket_queue </proc/$PROG/net/udp)
cpu1=$(cpu_ticks)
touch "$E2E_TMP/flood.done"
wait "$watcher" || true
kill -0 "$PROG" 2>/dev/null || { tail -30 "$E2E_TMP/program.log"; fail "the program died"; }

offered=$(awk '/^flood:/ { print $2 }' "$E2E_TMP/flood.txt")
seconds=$(calc "$flood_end - $flood_start")
absorbed=$((in1 - in0))
cpu_seconds=$(calc "($cpu1 - $cpu0) / $(getconf CLK_TCK)")
echo "flood mix: $(awk '/^flood kind/ { printf "%s%s %s", (n++ ? ", " : ""), $4, $3 }' \
    "$E2E_TMP/flood.txt")"
echo "FIGURE offered: $offered datagrams in $FLOOD_SECONDS s ($((offered / FLOOD_SECONDS))/s)"
echo "FIGURE program absorbed: $absorbed datagrams in $seconds s" \
    "($(calc "$absorbed / $seconds")/s; kernel counters of its host)," \
    "$((err1 - err0)) dropped on its full receive buffer" \
    "(socket drops $((drops1 - drops0))), $queue1 bytes left queued at the end"
echo "FIGURE program CPU in the flood: $cpu_seconds s in $seconds s, all threads;" \
    "$(calc "$cpu_seconds * 1000000 / $absorbed") us per absorbed datagram"
echo "FIGURE kernel limit: a receiver that only reads read $sink_read of $calibration_offered" \
    "offered in $FLOOD_SECONDS s ($((sink_read / FLOOD_SECONDS))/s; host counters:" \
    "$((sink_in1 - sink_in0)) delivered, $((sink_err1 - sink_err0)) dropped)"

# --- (d) at most one error box at a time ------------------------------------------------
samples=$(wc -l <"$E2E_TMP/boxes.txt")
read -r max_errors max_notes distinct_errors < <(awk -F'|' '
    { e = split($2, ids, " "); n = split($3, notes, " ")
      if (e > me) me = e
      if (n > mn) mn = n
      for (i = 1; i <= e; i++) seen[ids[i]] = 1 }
    END { d = 0; for (k in seen) d++; print me + 0, mn + 0, d }' "$E2E_TMP/boxes.txt")
echo "boxes: $samples looks at the screen in the flood; at most $max_errors error box(es) and" \
    "$max_notes notification box(es) open at once; $distinct_errors error box(es) in all"
[ "$samples" -ge 40 ] || fail "only $samples looks at the screen"
[ "$max_errors" -le 1 ] || fail "$max_errors error boxes open at once"
[ "$max_notes" -le 1 ] || fail "$max_notes notification boxes open at once"
[ $TRAY -eq 0 ] || [ "$max_notes" -eq 0 ] || fail "notification boxes beside a tray"

# --- (b) on time in the flood --------------------------------------------------------
read -r announcements max_gap flood_gap during < <(program_presence | awk -v s="$flood_start" \
    -v e="$flood_end" '
    { if (n++) { gap = $1 - last; if (gap > max) max = gap
                 if (last <= e && $1 >= s && gap > fmax) fmax = gap }
      if ($1 >= s && $1 <= e) during++
      last = $1 }
    END { printf "%d %.3f %.3f %d\n", n, max, fmax, during }')
echo "announcements: $announcements from the program, $during in the flood; longest gap" \
    "$flood_gap s across the flood, $max_gap s over the run"
[ "$during" -ge 1 ] || fail "no announcement in the flood"
within "$max_gap" "$GAP_LIMIT" || fail "a gap of $max_gap s between announcements"

# --- (c) it answers the user -------------------------------------------------------
t0=$EPOCHREALTIME
atspi windows >"$E2E_TMP/windows.txt" || fail "no answer on the accessibility bus"
took=$(elapsed "$t0")
within "$took" "$ANSWER_LIMIT" || fail "listing the windows took $took s"
echo "answer: right after the flood the program listed its windows in $took s:" \
    "$(awk -F'\t' '{ printf "%s%s \"%s\" %s", (NR > 1 ? ", " : ""), $1, $2, $3 }' \
        "$E2E_TMP/windows.txt")"
# The user reads and closes the boxes the flood raised. Then the peers announce
# themselves once more (the kernel dropped one half of some of the flood's
# status changes), and the user closes what that brings.
close_boxes() {
    atspi --timeout 10 close-boxes >"$E2E_TMP/closed.txt" || {
        cat "$E2E_TMP/closed.txt"
        fail "the boxes keep coming"
    }
    local slowest
    slowest=$(awk -F'\t' '$3 > m { m = $3 } END { printf "%.3f", m }' "$E2E_TMP/closed.txt")
    within "$slowest" "$ANSWER_LIMIT" || fail "a box took $slowest s to close"
    echo "answer: closed $(wc -l <"$E2E_TMP/closed.txt") box(es) $1, each gone within" \
        "$slowest s: $(cut -f2 "$E2E_TMP/closed.txt" | sort | uniq -c |
            awk '{ c = $1; $1 = ""; printf "%s%d x\"%s\"", (n++ ? ", " : ""), c, substr($0, 2) }')"
}
close_boxes "left from the flood"
ip netns exec "$E2E_HOST_B" "$FLOOD_PEERS" settle --target "$E2E_ADDR_A" --count $PEERS \
    --groups $GROUP_COUNT --seconds 0.5
close_boxes "after the peers announced themselves again"
check_listing "after the flood"

# A double click on a peer that is on the screen opens its conversation.
read -r px py name < <(atspi showing-items | head -1)
[ -n "${name:-}" ] || fail "no peer row on the screen"
peer=$((10#${name:4:4} - 1))
[ "$(peer_name "$peer")" = "$name" ] || fail "an unknown peer $name on the screen"
address=$(peer_address "$peer")
x search --onlyvisible --name "^$name\$" >/dev/null 2>&1 && fail "$name's window is already open"
t0=$EPOCHREALTIME
x mousemove "$px" "$py" click --repeat 2 --delay 80 1
opened=""
while within "$(elapsed "$t0")" "$ANSWER_LIMIT"; do
    if x search --onlyvisible --name "^$name\$" >/dev/null 2>&1; then
        opened=$(elapsed "$t0")
        break
    fi
    sleep 0.02
done
[ -n "$opened" ] || fail "no conversation with $name within $ANSWER_LIMIT s of the double click"
echo "answer: the conversation with $name opened $opened s after the double click" \
    "($(elapsed "$flood_end") s after the flood)"

wait_event() {  # $1: awk condition on a line of the events log; the clock starts at $2
    local since="$2"
    while within "$(elapsed "$since")" "$ANSWER_LIMIT"; do
        awk -v a="$E2E_ADDR_A" -v to="$address" -v since="$since" \
            "\$1 >= since && \$2 == a && \$3 == to && ($1) { found = 1 } END { exit !found }" \
            "$E2E_TMP/events.log" && { elapsed "$since"; return 0; }
        sleep 0.02
    done
    return 1
}
in_a "$PY" "$HERE/atspi_tree.py" --pid "$PROG" --timeout 2 --window-role dialog \
    wait-window "$name" || fail "$name's window is not on the accessibility bus"
in_window() { atspi --window-role dialog "$1" --window "$name" --role "$2" --name "$3"; }
read -r bx by < <(in_window point "push button" Zvonek)
t0=$EPOCHREALTIME
x mousemove "$bx" "$by" click 1
took=$(wait_event '$4 == 4 && $5 == 2 && $6 == 2' "$t0") ||
    fail "no bell at $address within $ANSWER_LIMIT s of the click"
echo "answer: the bell reached $address $took s after the click"

message="po povodni $RANDOM"
read -r ix iy < <(in_window point text "Zpráva")
x mousemove "$ix" "$iy" click 1
x type --delay 20 "$message"
t0=$EPOCHREALTIME
x key Return
took=$(wait_event "\$5 == 1 && \$6 == 2 && index(\$0, \"$message\")" "$t0") ||
    fail "no message \"$message\" at $address within $ANSWER_LIMIT s of Enter"
echo "answer: the typed message reached $address $took s after Enter"
awk -v a="$E2E_ADDR_A" -v to="$address" '$2 == a && $3 == to && $5 == 1 && $6 == 8 { f = 1 }
    END { exit !f }' "$E2E_TMP/events.log" || fail "no typing notice reached $address"
log_shows_message() { in_window text text Rozhovor | grep -qF "$message"; }
e2e_wait_until 5 log_shows_message || fail "the log does not show the message"

# Datagrams are still handled: a group assignment travels in the next announcement.
ip netns exec "$E2E_HOST_B" "$FLOOD_PEERS" send --from "$(peer_address 0)" \
    --target "$E2E_ADDR_A" group PoPovodni
t0=$EPOCHREALTIME
assigned=""
while within "$(elapsed "$t0")" "$GAP_LIMIT"; do
    if program_presence | awk -v t="$t0" '$1 > t && $3 ~ /\|PoPovodni$/ { f = 1 } END { exit !f }'
    then
        assigned=yes
        break
    fi
    sleep 0.1
done
[ -n "$assigned" ] || fail "a group assignment after the flood is not in the next announcement"
echo "answer: a group assignment after the flood is in the next announcement"

# --- (e) memory ------------------------------------------------------------------------
rss_after=$(awk '/^VmRSS:/ { print $2 }' /proc/$PROG/status)
peak=$(awk '/^VmHWM:/ { print $2 }' /proc/$PROG/status)
echo "FIGURE resident memory: $((rss_peers / 1024)) MiB with $PEERS peers listed," \
    "$((rss_after / 1024)) MiB after the flood, peak $((peak / 1024)) MiB"
growth=$(((rss_after - rss_peers) / 1024))
[ $growth -lt $GROWTH_LIMIT_MB ] || fail "resident memory grew by $growth MiB in the flood"
if ldd "$MURMEX3" 2>/dev/null | grep libasan >/dev/null; then
    echo "memory: a sanitizer build, whose shadow memory and quarantine are resident too;" \
        "only the growth is bounded"
else
    [ $((peak / 1024)) -lt $RSS_LIMIT_MB ] || fail "peak resident memory $((peak / 1024)) MiB"
fi

# --- an orderly end: goodbye and exit ----------------------------------------------
t0=$EPOCHREALTIME
kill -TERM "$PROG"
for _ in $(seq 1 100); do kill -0 "$PROG" 2>/dev/null || break; sleep 0.05; done
kill -0 "$PROG" 2>/dev/null && fail "the program did not exit within 5 s of SIGTERM"
said_goodbye() { program_presence | awk -v t="$t0" '$1 > t && $2 == 4 { f = 1 } END { exit !f }'; }
e2e_wait_until 5 said_goodbye || fail "no goodbye announcement at the end"
if grep -E "ERROR: AddressSanitizer|runtime error:|LeakSanitizer" "$E2E_TMP/program.log"; then
    fail "the sanitizers reported errors"
fi
PROG=0
echo "PASS"
