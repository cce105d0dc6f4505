#!/usr/bin/env bash
# Two subnets joined by a router that forwards, but not broadcasts: the real
# program on one side (host A, 10.213.81.2), murmex3-cli on the other (host B,
# 10.213.82.2). Without extra addresses they do not hear each other; the
# program's list brings its announcements and its goodbye across; the CLI's
# list (from the program's settings file, or --also) brings its own, and the
# program answers it until its goodbye; a subnet in the list reaches its whole
# network where the router forwards directed broadcasts.
#
#   subnets.sh PROGRAM CLI
set -euo pipefail
MURMEX3="$(realpath "$1")"
CLI="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root
for tool in Xvfb jq; do
    command -v "$tool" >/dev/null || { echo "SKIP: missing $tool"; exit 77; }
done

# A - router - B: each side a /24 with its broadcast address, routed through.
e2e_make_hosts --routed
ADDR_A="$E2E_ADDR_A"
ADDR_B="$E2E_ADDR_B"
ROUTER="$E2E_ROUTER"
PERIOD=2
WATCH=""

fail() {
    echo "FAIL: $*"
    for log in "$E2E_TMP"/*.log "$E2E_TMP"/watch-*.jsonl; do
        [ -s "$log" ] && { echo "--- $log"; tail -20 "$log"; }
    done
    exit 1
}
cleanup() {
    local status=$?
    e2e_stop_xvfb
    e2e_cleanup
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# settings HOME [EXTRA]: a home whose settings announce every PERIOD seconds.
settings() {
    mkdir -p "$1/.config/Quillory"
    {
        printf '[Settings]\nAboutMePeriod=%d\n' "$PERIOD"
        [ -z "${2:-}" ] || printf 'ExtraAddresses=%s\n' "$2"
    } >"$1/.config/Quillory/Mrmx3.conf"
}

# The program on A, with the extra addresses given (or none).
start_program() {
    settings "$E2E_TMP/home-program" "${1:-}"
    e2e_start_program "$E2E_HOST_A" "$XVFB_DISPLAY" program
    PROGRAM_PID="${E2E_PIDS[-1]}"
    e2e_wait_listening "$E2E_HOST_A" || fail "the program did not start"
}
stop_program() {
    pkill -TERM -P "$PROGRAM_PID" 2>/dev/null || kill -TERM "$PROGRAM_PID" 2>/dev/null || true
    e2e_wait_until 15 eval "! ip netns exec '$E2E_HOST_A' ss -Hlun 'sport = :23654' | grep -q ." ||
        fail "the program did not end"
}

# murmex3-cli watch on B, its events in watch-NAME.jsonl; more arguments
# are the watch's (--also ...).
start_watch() {
    local name="$1"
    shift
    settings "$E2E_TMP/home-cli" "${CLI_EXTRA:-}"
    WATCH_LOG="$E2E_TMP/watch-$name.jsonl"
    ip netns exec "$E2E_HOST_B" env HOME="$E2E_TMP/home-cli" "$CLI" watch --json "$@" \
        >"$WATCH_LOG" 2>"$E2E_TMP/watch-$name.log" &
    WATCH=$!
    E2E_PIDS+=("$WATCH")
    e2e_wait_listening "$E2E_HOST_B" || fail "watch $name did not start"
}
end_watch() {  # end_watch TERM|KILL
    kill "-$1" "$WATCH" 2>/dev/null || true
    wait "$WATCH" 2>/dev/null || true
}
heard_program() {
    jq -c --arg a "$ADDR_A" 'select(.event == "appeared" and .address == $a)' \
        "$WATCH_LOG" 2>/dev/null | grep -q .
}
# A watch that must not hear the program for three periods.
expect_silence() {
    sleep $((3 * PERIOD + 1))
    ! heard_program || fail "$1"
}

e2e_start_xvfb "$E2E_HOST_A" subnets

echo "== without extra addresses the subnets stay apart"
start_program
start_watch apart
expect_silence "B heard A across the router without extra addresses"
end_watch TERM
stop_program

echo "== A lists B: its announcements and its goodbye cross the router"
start_program "$ADDR_B"
start_watch listed
e2e_wait_until $((2 * PERIOD + 5)) heard_program || fail "B did not hear A's announcement"
stop_program
said_goodbye() {
    jq -c --arg a "$ADDR_A" 'select(.event == "status" and .address == $a and .status == 4)' \
        "$WATCH_LOG" 2>/dev/null | grep -q .
}
e2e_wait_until 10 said_goodbye || fail "B did not hear A's goodbye"
end_watch TERM

# watch_a NAME: murmex3-cli watch on host A, where the program is not running.
heard_cli() {
    jq -c --arg b "$ADDR_B" 'select(.event == "appeared" and .address == $b)' \
        "$E2E_TMP/watch-a-$1.jsonl" 2>/dev/null | grep -q .
}
watch_a() {
    settings "$E2E_TMP/home-cli-a"
    ip netns exec "$E2E_HOST_A" env HOME="$E2E_TMP/home-cli-a" "$CLI" watch --json \
        >"$E2E_TMP/watch-a-$1.jsonl" 2>"$E2E_TMP/watch-a-$1.log" &
    WATCH_A=$!
    E2E_PIDS+=("$WATCH_A")
    e2e_wait_listening "$E2E_HOST_A" || fail "the watch on A did not start"
}

echo "== B lists A in the program's settings: A hears B"
watch_a settings
CLI_EXTRA="$ADDR_A" start_watch settings-list
e2e_wait_until $((2 * PERIOD + 5)) heard_cli settings || fail "A did not hear B (settings)"
end_watch TERM
kill -TERM "$WATCH_A"; wait "$WATCH_A" 2>/dev/null || true

echo "== B lists A with --also: A hears B"
watch_a also
start_watch also-list --also "$ADDR_A"
e2e_wait_until $((2 * PERIOD + 5)) heard_cli also || fail "A did not hear B (--also)"
end_watch TERM
kill -TERM "$WATCH_A"; wait "$WATCH_A" 2>/dev/null || true

echo "== B lists A, A lists nobody: the program answers B until B says goodbye"
start_program
start_watch answered --also "$ADDR_A"
e2e_wait_until $((2 * PERIOD + 5)) heard_program || fail "the program did not answer B"
end_watch TERM
# The goodbye is on its way at once; what A sent before it may still arrive.
sleep 1
! ip netns exec "$E2E_HOST_B" python3 "$HERE/udp_listen.py" $((3 * PERIOD + 1)) \
    >"$E2E_TMP/after-goodbye.log" ||
    fail "the program still sends to B after its goodbye: $(cat "$E2E_TMP/after-goodbye.log")"
stop_program

echo "== A lists B's subnet: its directed broadcast reaches B where the router forwards it"
ip netns exec "$ROUTER" sysctl -qw net.ipv4.conf.all.bc_forwarding=1 2>/dev/null &&
    ip netns exec "$ROUTER" sysctl -qw "net.ipv4.conf.${E2E_TAG}rb.bc_forwarding=1" \
        "net.ipv4.conf.${E2E_TAG}ra.bc_forwarding=1" ||
    { echo "PASS (this kernel cannot forward directed broadcasts: the subnet part skipped)"; exit 0; }
start_program "10.213.82.0/24"
start_watch subnet
e2e_wait_until $((2 * PERIOD + 5)) heard_program || fail "A's subnet broadcast did not reach B"
end_watch TERM
stop_program
echo "PASS"
