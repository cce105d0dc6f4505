#!/usr/bin/env bash
# One copy per user. With a copy running, a second start with the same home
# asks it to show its main window and ends with status 0 at once; --version
# and --help answer without reaching it; a copy with another home runs on its
# own (and meets the port taken: its "Create" box).
#
#   one_copy.sh PROGRAM
set -euo pipefail
MURMEX3="$(realpath "$1")"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root
command -v xdotool >/dev/null || { echo "SKIP: xdotool is not installed"; exit 77; }

fail() {
    echo "FAIL: $*"
    for log in "$E2E_TMP"/*.log; do echo "--- $log"; tail -15 "$log"; done
    exit 1
}
e2e_make_hosts
trap 'e2e_stop_xvfb; e2e_cleanup' EXIT
e2e_start_xvfb "$E2E_HOST_A" one

# as_user HOME: the start of a command on host A as the user of that home, in AS_USER.
as_user() {
    mkdir -p "$1"
    AS_USER=(ip netns exec "$E2E_HOST_A" env -i PATH="$PATH" HOME="$1" USER=one LOGNAME=one
        DISPLAY=":$XVFB_DISPLAY" XDG_RUNTIME_DIR="$1" QT_QPA_PLATFORM=xcb
        QT_LOGGING_RULES="murmex3.ui.info=true" ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}")
}
HOME_ONE="$E2E_TMP/home-one"
HANDED="Another copy was started"

# The first copy is up once host B hears it announce.
ip netns exec "$E2E_HOST_B" python3 "$HERE/udp_listen.py" 20 >"$E2E_TMP/heard.txt" &
listener=$!
E2E_PIDS+=($listener)
e2e_wait_listening "$E2E_HOST_B" || fail "the listener did not start"
as_user "$HOME_ONE"
# The sounds are found beside the program. Every step execs, so $! is the program.
(cd "$(dirname "$MURMEX3")" && exec "${AS_USER[@]}" "$MURMEX3" >"$E2E_TMP/first.log" 2>&1) &
E2E_PIDS+=($!)
wait "$listener" || fail "the first copy did not announce itself"

version="$("${AS_USER[@]}" timeout 20 "$MURMEX3" --version)" || fail "--version failed"
[[ "$version" == "murmex3 "* ]] || fail "--version printed '$version'"
"${AS_USER[@]}" timeout 20 "$MURMEX3" --help | grep -q "^Usage: murmex3" || fail "--help"
[ "$(grep -c "$HANDED" "$E2E_TMP/first.log")" -eq 0 ] || fail "--help or --version reached it"

started=$EPOCHREALTIME
"${AS_USER[@]}" timeout 20 "$MURMEX3" >"$E2E_TMP/second.log" 2>&1 ||
    fail "the second start ended with status $?"
took="$(awk "BEGIN { printf \"%.2f\", $EPOCHREALTIME - $started }")"
handed_once() { [ "$(grep -c "$HANDED" "$E2E_TMP/first.log")" -eq 1 ]; }
e2e_wait_until 10 handed_once || fail "the running copy was not asked"
echo "second start: handed over and ended with 0 after $took s"

# Another home is another user: no hand-over, its own start, the port taken.
as_user "$E2E_TMP/home-other"
(exec "${AS_USER[@]}" "$MURMEX3" >"$E2E_TMP/other.log" 2>&1) &
E2E_PIDS+=($!)
DISPLAY=":$XVFB_DISPLAY" timeout 20 xdotool search --sync --name '^Error$' >/dev/null ||
    fail "the copy with another home showed no \"Create\" box"
[ "$(grep -c "$HANDED" "$E2E_TMP/first.log")" -eq 1 ] || fail "another home reached the first copy"
echo "PASS"
