#!/usr/bin/env bash
# Two real copies of the program talk for a while. Each runs on a host of its
# own (network namespace) under its own Xvfb, session and accessibility bus,
# with a fresh home. Each opens the other's conversation with a double click on
# its row in the tree; then both users type at the same time at a steady rate
# (real key events from xdotool into the focused input line, Enter sends).
# Afterwards each conversation log, read through AT-SPI, must hold every
# message of both sides, each exactly once, each side's in the order typed, and
# nothing else.
#
#   soak.sh PROGRAM [MESSAGES_PER_SIDE [PAUSE_SECONDS]]
#
# 2000 messages each way, about 17 a second each way. A sanitizer build is too
# slow for that (every message sent or received makes the window rebuild its
# whole log, and a copy that falls behind loses datagrams on its full receive
# buffer): 1000 each way, 2000 in all, about 8 a second each way.
set -euo pipefail
MURMEX3="$(realpath "$1")"
MESSAGES="${2:-}"
PAUSE="${3:-}"  # seconds between two messages of one side
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root

TIME_LIMIT=225    # seconds for the whole test; ctest stops it at 240
KEY_DELAY_MS=2    # between the key events of one message
STARTED=$EPOCHREALTIME
if ldd "$MURMEX3" 2>/dev/null | grep libasan >/dev/null; then
    MESSAGES="${MESSAGES:-1000}"
    PAUSE="${PAUSE:-0.1}"
    echo "a sanitizer build: $MESSAGES messages each way, $((2 * MESSAGES)) in all"
fi
MESSAGES="${MESSAGES:-2000}"
PAUSE="${PAUSE:-0.035}"

fail() {
    echo "FAIL: $*"
    for log in "$E2E_TMP"/program-*.log; do
        [ -s "$log" ] && { echo "--- ${log##*/}:"; tail -15 "$log"; }
    done
    exit 1
}
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
elapsed() { calc "$EPOCHREALTIME - $1"; }
before() { awk -v t="$(elapsed "$STARTED")" -v l="$1" 'BEGIN { exit !(t < l) }'; }

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
for tool in Xvfb xdotool dbus-daemon; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -n "$PY" ] || { echo "SKIP: needs python3-gi and gir1.2-atspi-2.0"; exit 77; }
[ -n "$LAUNCHER" ] || { echo "SKIP: needs at-spi2-core (at-spi-bus-launcher)"; exit 77; }

# --- hosts, and a teardown that leaves nothing behind ------------------------------
e2e_make_hosts
declare -A NS=([a]="$E2E_HOST_A" [b]="$E2E_HOST_B")
declare -A DISP=() HOMEDIR=() BUS=() PROG=([a]=0 [b]=0)
soak_cleanup() {
    set +e
    local key pid signal
    for key in a b; do
        [ "${PROG[$key]}" -gt 0 ] && kill -TERM "${PROG[$key]}" 2>/dev/null
    done
    alive() { [ "${PROG[$1]}" -gt 0 ] && kill -0 "${PROG[$1]}" 2>/dev/null; }
    for _ in $(seq 1 30); do
        alive a || alive b || break
        sleep 0.1
    done
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
trap soak_cleanup EXIT
trap 'exit 130' INT TERM HUP

# on_host KEY CMD...: a command on that host, with its display and buses.
on_host() {
    local key="$1"
    shift
    ip netns exec "${NS[$key]}" env -i PATH="$PATH" HOME="${HOMEDIR[$key]}" \
        XDG_RUNTIME_DIR="${HOMEDIR[$key]}" DISPLAY=":${DISP[$key]}" \
        DBUS_SESSION_BUS_ADDRESS="${BUS[$key]}" "$@"
}
atspi() {
    local key="$1"
    shift
    on_host "$key" "$PY" "$HERE/atspi_tree.py" --pid "${PROG[$key]}" "$@"
}
in_window() {  # KEY COMMAND ROLE NAME: a control of the conversation window
    atspi "$1" --window-role dialog "$2" --window "${WINDOW[$1]}" --role "$3" --name "$4"
}
x() {
    local key="$1"
    shift
    DISPLAY=":${DISP[$key]}" xdotool "$@"
}
udp_drops() {  # datagrams the host dropped on a full receive buffer
    ip netns exec "${NS[$1]}" awk '/^Udp:/ { if (!h) { for (i = 2; i <= NF; i++) c[$i] = i
        h = 1 } else { print $c["RcvbufErrors"]; exit } }' /proc/net/snmp
}

# start_copy KEY: display, session and accessibility bus, then the program.
start_copy() {
    local key="$1"
    e2e_start_xvfb "${NS[$key]}" "$key"
    DISP[$key]=$XVFB_DISPLAY
    HOMEDIR[$key]="$E2E_TMP/home-$key"
    mkdir -m 700 -p "${HOMEDIR[$key]}"
    BUS[$key]="unix:path=$E2E_TMP/session-bus-$key"
    on_host "$key" dbus-daemon --session --address="${BUS[$key]}" --fork --print-pid=1 \
        >"$E2E_TMP/bus-$key.pid"
    E2E_PIDS+=($(cat "$E2E_TMP/bus-$key.pid"))
    on_host "$key" "$LAUNCHER" --launch-immediately >"$E2E_TMP/a11y-$key.log" 2>&1 &
    E2E_PIDS+=($!)
    # The sounds are found beside the program. Every step execs, so $! is the program.
    (cd "$(dirname "$MURMEX3")" && exec ip netns exec "${NS[$key]}" env -i PATH="$PATH" \
        HOME="${HOMEDIR[$key]}" XDG_RUNTIME_DIR="${HOMEDIR[$key]}" DISPLAY=":${DISP[$key]}" \
        DBUS_SESSION_BUS_ADDRESS="${BUS[$key]}" USER="soak$key" LOGNAME="soak$key" \
        QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
        ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" "$MURMEX3" \
        >"$E2E_TMP/program-$key.log" 2>&1) &
    PROG[$key]=$!
}
start_copy a
start_copy b
for key in a b; do
    atspi "$key" --timeout 20 wait-app >/dev/null || fail "copy $key is not on its bus"
    [ "$(cat "/proc/${PROG[$key]}/comm")" = "murmex3" ] || fail "copy $key is not the program"
done

# --- each lists the other and opens its conversation ------------------------------
declare -A WINDOW=()
for key in a b; do
    atspi "$key" --timeout 20 wait-items 1 >/dev/null || fail "copy $key does not list the other"
    read -r px py name < <(atspi "$key" showing-items | head -1)
    [ -n "${name:-}" ] || fail "copy $key shows no peer row"
    WINDOW[$key]="$name"
    x "$key" mousemove "$px" "$py" click --repeat 2 --delay 80 1
    atspi "$key" --timeout 10 --window-role dialog wait-window "$name" ||
        fail "copy $key opened no conversation with $name"
    # The input line has the focus; a click there makes sure, as a user would.
    read -r ix iy < <(in_window "$key" point text "Zpráva")
    x "$key" mousemove "$ix" "$iy" click 1
done
echo "conversations open: a with \"${WINDOW[a]}\", b with \"${WINDOW[b]}\""

# --- both type at the same time, at a steady rate ----------------------------------
# One xdotool a side reads its whole script: no process start per message.
for key in a b; do
    prefix=$(echo "$key" | tr ab AB)
    for i in $(seq 1 "$MESSAGES"); do
        printf 'type --delay %d %s%04d\nkey Return\nsleep %s\n' \
            "$KEY_DELAY_MS" "$prefix" "$i" "$PAUSE"
    done >"$E2E_TMP/typing-$key.xdo"
done
cpu_ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
declare -A CPU0=()
for key in a b; do CPU0[$key]=$(cpu_ticks "${PROG[$key]}"); done
typing_start=$EPOCHREALTIME
x a "$E2E_TMP/typing-a.xdo" &
typist_a=$!
x b "$E2E_TMP/typing-b.xdo" &
typist_b=$!
E2E_PIDS+=($typist_a $typist_b)
wait "$typist_a" || fail "typing on a failed"
wait "$typist_b" || fail "typing on b failed"
typed=$(elapsed "$typing_start")
echo "typed: $MESSAGES messages on each side in $typed s" \
    "($(calc "2 * $MESSAGES / $typed") messages a second in all)"

# --- every message in both logs, in order, exactly once ---------------------------
# A log line is "<sender>: <text>"; the texts are A0001.. and B0001...
for side in A B; do
    for i in $(seq 1 "$MESSAGES"); do printf '%s%04d\n' "$side" "$i"; done \
        >"$E2E_TMP/expected-$side.txt"
done
check_log() {  # KEY: true when its log holds everything
    local key="$1" side
    in_window "$key" text text Rozhovor >"$E2E_TMP/log-$key.txt" 2>/dev/null || return 1
    for side in A B; do
        grep -oE ": $side[0-9]{4}\$" "$E2E_TMP/log-$key.txt" | cut -c3- \
            >"$E2E_TMP/got-$key-$side.txt" || true
        cmp -s "$E2E_TMP/expected-$side.txt" "$E2E_TMP/got-$key-$side.txt" || return 1
    done
}
done_at=""
while before "$TIME_LIMIT"; do
    check_log a && a_done=yes || a_done=""
    check_log b && b_done=yes || b_done=""
    if [ -n "$a_done" ] && [ -n "$b_done" ]; then
        done_at=$(elapsed "$typing_start")
        break
    fi
    sleep 2
done
if [ -z "$done_at" ]; then
    for key in a b; do
        echo "copy $key: windows: $(atspi "$key" windows 2>&1 | paste -sd'|');" \
            "datagrams dropped on a full receive buffer: $(udp_drops "$key")"
        for side in A B; do
            got="$E2E_TMP/got-$key-$side.txt"
            [ -e "$got" ] || { echo "log of $key: not read"; continue; }
            echo "log of $key: $(wc -l <"$got") of $MESSAGES messages from $side; first" \
                "difference: $(diff "$E2E_TMP/expected-$side.txt" "$got" | head -3 | paste -sd' ')"
        done
        tail -5 "$E2E_TMP/program-$key.log"
    done
    fail "the logs do not hold every message once and in order within $TIME_LIMIT s"
fi
for key in a b; do
    # Nothing else in the log either, such as a notice that the other went silent.
    lines=$(($(wc -l <"$E2E_TMP/log-$key.txt") + 1))
    if [ "$lines" -ne $((2 * MESSAGES)) ]; then
        grep -vE ": [AB][0-9]{4}\$" "$E2E_TMP/log-$key.txt" | head -5
        fail "the log of $key has $lines lines for $((2 * MESSAGES)) messages"
    fi
    echo "log of $key: every one of the $MESSAGES messages of each side, once, in order," \
        "and nothing else ($lines lines, such as \"$(sed -n 2p "$E2E_TMP/log-$key.txt")\")"
done
echo "all messages in both logs $done_at s after the typing began"
for key in a b; do
    cpu=$(calc "($(cpu_ticks "${PROG[$key]}") - ${CPU0[$key]}) / $(getconf CLK_TCK)")
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/${PROG[$key]}/status")
    echo "FIGURE copy $key: CPU $cpu s in the $done_at s of the exchange;" \
        "$(udp_drops "$key") datagrams dropped on its full receive buffer;" \
        "resident memory after it $((rss / 1024)) MiB"
done

# --- an orderly end -------------------------------------------------------------------
for key in a b; do
    kill -TERM "${PROG[$key]}"
done
for key in a b; do
    for _ in $(seq 1 100); do kill -0 "${PROG[$key]}" 2>/dev/null || break; sleep 0.05; done
    kill -0 "${PROG[$key]}" 2>/dev/null && fail "copy $key did not exit within 5 s of SIGTERM"
    if grep -E "ERROR: AddressSanitizer|runtime error:|LeakSanitizer" \
        "$E2E_TMP/program-$key.log"; then
        fail "the sanitizers reported errors in copy $key"
    fi
    PROG[$key]=0
done
echo "PASS"
