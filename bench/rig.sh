#!/usr/bin/env bash
# bench/rig.sh PROGRAM
# The set-up of bench_program, built on the end-to-end tests' hosts
# (tests/e2e/netns.sh): host A runs the program, its X server, session bus and
# tray; host B holds the peers' addresses. bench_program starts this script and
# drives it through its standard input, one command a line; each command
# answers one line on standard output, "ok ..." or "error TEXT":
#   hosts                   ok HOST_A HOST_B       the two hosts, made once
#   peers N                 ok                     peers 0..N-1's addresses on host B
#   xvfb                    ok DISPLAY BUS         an Xvfb and a session bus, started once
#   tray | untray           ok                     trayer on the display, its panel up
#   docked                  ok yes|no              the program's icon in the tray's panel
#   program xcb|offscreen [VAR=VALUE...]
#                           ok PID HOME            the program with a fresh home; its
#                                                  output goes to HOME/program.log
#   stop                    ok SECONDS | error ... SIGTERM; SIGKILL after 10 s
#   exec-true               ok                     "ip netns exec" of /bin/true on host A
# Peer k has the address of PeerFlood.h's peer k, or of peer k + 256 from k = 19455
# on: those of 10.213.77.0/24 are the hosts' own network.
# Everything it started and both hosts are removed when its standard input
# closes, and on SIGINT, SIGTERM and SIGHUP.
set -uo pipefail
PROGRAM="$(realpath "$1")"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/../tests/e2e/netns.sh"

BUS=""
PROG=0
TRAY=0
HOMES=0
PEERS_ADDED=0
HOSTS_MADE=0

fail() {  # e2e_start_xvfb's way to give up
    echo "error $*"
    return 1
}

rig_cleanup() {
    # Not in a child that took a signal before it became another program.
    [ "$BASHPID" -eq "$$" ] || exit 1
    set +e
    exec 2>/dev/null  # no notes on the jobs it kills
    [ "$PROG" -gt 0 ] && kill -KILL "$PROG" 2>/dev/null
    [ "$TRAY" -gt 0 ] && kill -KILL "$TRAY" 2>/dev/null
    e2e_stop_xvfb
    if [ "$HOSTS_MADE" -eq 1 ]; then
        # Whatever still runs on our hosts was started for the benchmark.
        for host in "$E2E_HOST_A" "$E2E_HOST_B"; do
            for pid in $(ip netns pids "$host" 2>/dev/null); do
                kill -KILL "$pid" 2>/dev/null
            done
        done
    fi
    e2e_cleanup
    # Only left behind when the set-up failed half-way.
    ip link del "${E2E_TAG}va" 2>/dev/null
}
trap rig_cleanup EXIT
trap 'exit 130' INT TERM HUP

in_a() { ip netns exec "$E2E_HOST_A" "$@"; }
windows() { DISPLAY=":$XVFB_DISPLAY" xwininfo -root -tree 2>/dev/null; }
has_panel() { windows | grep -qF '("panel" "trayer")'; }

cmd_hosts() {
    if [ "$HOSTS_MADE" -eq 0 ]; then
        if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
            echo "error needs root and iproute2: it makes two network namespaces"
            return
        fi
        HOSTS_MADE=1
        e2e_make_hosts >"$E2E_TMP/hosts.log" 2>&1 || {
            echo "error the hosts could not be made: $(tail -1 "$E2E_TMP/hosts.log")"
            return
        }
        trap rig_cleanup EXIT
    fi
    echo "ok $E2E_HOST_A $E2E_HOST_B"
}

cmd_peers() {
    local count="$1" k n
    for ((k = PEERS_ADDED; k < count; k++)); do
        n=$((k + 257))
        [ "$k" -ge 19455 ] && n=$((n + 256))
        echo "address add 10.213.$((n / 256)).$((n % 256))/32 dev ${E2E_TAG}vb"
    done >"$E2E_TMP/addresses.batch"
    if [ "$count" -gt "$PEERS_ADDED" ] &&
        ! ip -n "$E2E_HOST_B" -batch "$E2E_TMP/addresses.batch" >"$E2E_TMP/peers.log" 2>&1; then
        echo "error cannot add the peers' addresses: $(tail -1 "$E2E_TMP/peers.log")"
        return
    fi
    [ "$count" -gt "$PEERS_ADDED" ] && PEERS_ADDED=$count
    echo "ok"
}

# A bus of our own on a socket file: without one, the program's D-Bus calls
# would start one through the X server and leave it behind.
cmd_xvfb() {
    if [ -z "$BUS" ]; then
        command -v Xvfb >/dev/null && command -v dbus-daemon >/dev/null ||
            { echo "error Xvfb or dbus-daemon is not installed"; return; }
        e2e_start_xvfb "$E2E_HOST_A" bench >/dev/null || { echo "error no Xvfb could start"; return; }
        in_a dbus-daemon --session --fork --print-pid=1 --address="unix:path=$E2E_TMP/bus" \
            </dev/null >"$E2E_TMP/bus.pid" 2>"$E2E_TMP/bus.log" ||
            { echo "error no session bus: $(tail -1 "$E2E_TMP/bus.log")"; return; }
        E2E_PIDS+=("$(cat "$E2E_TMP/bus.pid")")
        BUS="unix:path=$E2E_TMP/bus"
    fi
    echo "ok $XVFB_DISPLAY $BUS"
}

# The tray is up before the program starts: the program looks for one only then.
cmd_tray() {
    command -v trayer >/dev/null || { echo "error trayer is not installed"; return; }
    ip netns exec "$E2E_HOST_A" env -i DISPLAY=":$XVFB_DISPLAY" trayer </dev/null \
        >"$E2E_TMP/tray.log" 2>&1 &
    TRAY=$!
    if ! e2e_wait_until 5 has_panel; then
        echo "error the tray's panel did not appear within 5 s: $(tail -1 "$E2E_TMP/tray.log")"
        return
    fi
    sleep 0.5  # the panel shows first, the tray's selection is taken just after
    echo "ok"
}

cmd_untray() {
    end_child "$TRAY" 1
    TRAY=0
    echo "ok"
}

cmd_docked() {
    if windows | awk '/\("panel" "trayer"\)/ { match($0, /^ */); depth = RLENGTH; inside = 1; next }
        inside { match($0, /^ */); if (RLENGTH <= depth) inside = 0 }
        inside && /\("murmex3" / { found = 1; exit } END { exit !found }'; then
        echo "ok yes"
    else
        echo "ok no"
    fi
}

# The program in its own folder (its sounds are found beside it), with a fresh
# home; every step execs, so $! is the program itself.
cmd_program() {
    local platform="$1" home
    shift
    home="$E2E_TMP/home$((++HOMES))"
    mkdir -m 700 "$home"
    local env=(env -i PATH="$PATH" HOME="$home" USER=bench LOGNAME=bench XDG_RUNTIME_DIR="$home")
    if [ "$platform" = xcb ]; then
        env+=(QT_QPA_PLATFORM=xcb DISPLAY=":$XVFB_DISPLAY" DBUS_SESSION_BUS_ADDRESS="$BUS")
    else
        env+=(QT_QPA_PLATFORM=offscreen)
    fi
    cd "$(dirname "$PROGRAM")" || { echo "error no folder for the program"; return; }
    ip netns exec "$E2E_HOST_A" "${env[@]}" "$@" "$PROGRAM" </dev/null >"$home/program.log" 2>&1 &
    PROG=$!
    cd /
    echo "ok $PROG $home"
}

# end_child PID SECONDS: SIGTERM, then SIGKILL after the seconds. Returns 0 when
# it left on its own.
end_child() {
    local pid="$1" guard status
    [ "$pid" -gt 0 ] || return 0
    kill -TERM "$pid" 2>/dev/null
    sleep "$2" &
    guard=$!
    wait -n "$pid" "$guard"
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid"
        status=1
    else
        wait "$pid" 2>/dev/null  # already collected by wait -n
        status=0
    fi
    kill -KILL "$guard" 2>/dev/null  # no trap runs, should it not be sleep yet
    wait "$guard" 2>/dev/null
    return $status
}

cmd_stop() {
    [ "$PROG" -gt 0 ] || { echo "error no program runs"; return; }
    local start=$EPOCHREALTIME
    if end_child "$PROG" 10; then
        echo "ok $(awk "BEGIN { printf \"%.6f\", $EPOCHREALTIME - $start }")"
    else
        echo "error the program did not exit within 10 s of SIGTERM"
    fi
    PROG=0
}

while read -r command args; do
    case "$command" in
    hosts) cmd_hosts ;;
    peers) cmd_peers "$args" ;;
    xvfb) cmd_xvfb ;;
    tray) cmd_tray ;;
    untray) cmd_untray ;;
    docked) cmd_docked ;;
    program) cmd_program $args ;;
    stop) cmd_stop ;;
    exec-true) in_a /bin/true && echo "ok" || echo "error ip netns exec failed" ;;
    *) echo "error unknown command: $command" ;;
    esac
done
