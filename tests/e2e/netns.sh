# Shared set-up of the end-to-end tests: two hosts of our own, joined by a veth
# pair, each in its own network namespace. Source this file; call
# e2e_require_root first, then e2e_make_hosts. Everything is removed on exit.
# The hosts' addresses have their network's broadcast address, as on a real LAN.

E2E_TAG="m3$$"
E2E_HOST_A="${E2E_TAG}a"
E2E_HOST_B="${E2E_TAG}b"
E2E_ADDR_A="10.213.77.1"
E2E_ADDR_B="10.213.77.2"
E2E_ROUTER="${E2E_TAG}r"
E2E_PIDS=()
E2E_TMP="$(mktemp -d /tmp/murmex3-e2e.XXXXXX)"

e2e_require_root() {
    if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
        echo "SKIP: needs root and iproute2 for network namespaces"
        exit 77
    fi
}

e2e_cleanup() {
    for pid in "${E2E_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    sleep 0.2
    for pid in "${E2E_PIDS[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
    ip netns del "$E2E_HOST_A" 2>/dev/null || true
    ip netns del "$E2E_HOST_B" 2>/dev/null || true
    ip netns del "$E2E_ROUTER" 2>/dev/null || true
    rm -rf "$E2E_TMP"
}

# e2e_make_hosts [--no-default-route | --routed]: without a default route, as
# on a LAN with no gateway, the limited broadcast 255.255.255.255 has no way
# out. --routed puts the hosts on two subnets, A on 10.213.81.0/24 and B on
# 10.213.82.0/24, joined by a router host (E2E_ROUTER, .1 on each side) that
# forwards unicast but no broadcast; E2E_ADDR_A and E2E_ADDR_B change to match.
e2e_make_hosts() {
    local mode="${1:-}"
    trap e2e_cleanup EXIT
    ip netns add "$E2E_HOST_A"
    ip netns add "$E2E_HOST_B"
    if [ "$mode" = "--routed" ]; then
        E2E_ADDR_A=10.213.81.2
        E2E_ADDR_B=10.213.82.2
        ip netns add "$E2E_ROUTER"
        ip -n "$E2E_ROUTER" link set lo up
        ip link add "${E2E_TAG}va" netns "$E2E_HOST_A" type veth peer name "${E2E_TAG}ra" \
            netns "$E2E_ROUTER"
        ip link add "${E2E_TAG}vb" netns "$E2E_HOST_B" type veth peer name "${E2E_TAG}rb" \
            netns "$E2E_ROUTER"
        ip -n "$E2E_ROUTER" addr add 10.213.81.1/24 brd + dev "${E2E_TAG}ra"
        ip -n "$E2E_ROUTER" addr add 10.213.82.1/24 brd + dev "${E2E_TAG}rb"
        ip -n "$E2E_ROUTER" link set "${E2E_TAG}ra" up
        ip -n "$E2E_ROUTER" link set "${E2E_TAG}rb" up
        ip netns exec "$E2E_ROUTER" sysctl -qw net.ipv4.ip_forward=1
    else
        ip link add "${E2E_TAG}va" type veth peer name "${E2E_TAG}vb"
        ip link set "${E2E_TAG}va" netns "$E2E_HOST_A"
        ip link set "${E2E_TAG}vb" netns "$E2E_HOST_B"
    fi
    ip -n "$E2E_HOST_A" addr add "$E2E_ADDR_A/24" brd + dev "${E2E_TAG}va"
    ip -n "$E2E_HOST_B" addr add "$E2E_ADDR_B/24" brd + dev "${E2E_TAG}vb"
    for host in "$E2E_HOST_A" "$E2E_HOST_B"; do
        ip -n "$host" link set lo up
    done
    ip -n "$E2E_HOST_A" link set "${E2E_TAG}va" up
    ip -n "$E2E_HOST_B" link set "${E2E_TAG}vb" up
    if [ "$mode" = "--routed" ]; then
        ip -n "$E2E_HOST_A" route add default via 10.213.81.1
        ip -n "$E2E_HOST_B" route add default via 10.213.82.1
    elif [ "$mode" != "--no-default-route" ]; then
        # The limited broadcast 255.255.255.255 follows the default route.
        ip -n "$E2E_HOST_A" route add default dev "${E2E_TAG}va"
        ip -n "$E2E_HOST_B" route add default dev "${E2E_TAG}vb"
    fi
}

# e2e_wait_until SECONDS COMMAND...: runs the command until it succeeds; fails
# when it still does not after the seconds. What a process sends, writes or
# shows arrives a moment after the action: a check waits for it.
e2e_wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# e2e_wait_listening HOST: waits until a socket on the host is bound to UDP
# port 23654 (a listener started in the background is ready).
e2e_wait_listening() {
    e2e_wait_until 10 eval "ip netns exec '$1' ss -Hlun 'sport = :23654' | grep -q ."
}

# e2e_start_program HOST DISPLAYNUM NAME: the real program with a fresh home,
# started in the program's folder or in E2E_WORKDIR when that is set.
e2e_start_program() {
    local host="$1" display="$2" name="$3"
    local home="$E2E_TMP/home-$name"
    mkdir -p "$home"
    (cd "${E2E_WORKDIR:-$(dirname "$MURMEX3")}" && \
        ip netns exec "$host" env -i PATH="$PATH" HOME="$home" USER="$name" LOGNAME="$name" \
            DISPLAY=":$display" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=xcb \
            ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" \
            "$MURMEX3" >"$E2E_TMP/$name.log" 2>&1) &
    E2E_PIDS+=($!)
}

# The caller defines fail MESSAGE and calls e2e_stop_xvfb in its teardown.
# e2e_start_xvfb HOST NAME: an Xvfb on the host, on the first display number it
# can lock (the lock file holds its pid; a server that finds the number taken
# exits, and the next number is tried). The number is left in XVFB_DISPLAY.
XVFB=()  # "pid display" of each
e2e_start_xvfb() {
    local n pid lock
    for n in $(seq 72 99); do
        lock="/tmp/.X$n-lock"
        [ -e "$lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        # No reset when the last client goes: a server that resets just as the
        # bus launcher leaves refuses the program's connection.
        ip netns exec "$1" Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset \
            >"$E2E_TMP/xvfb-$2.log" 2>&1 &
        pid=$!
        for _ in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            if [ "$(tr -d ' ' 2>/dev/null <"$lock")" = "$pid" ] && [ -e "/tmp/.X11-unix/X$n" ]
            then
                XVFB+=("$pid $n")
                XVFB_DISPLAY=$n
                return 0
            fi
            sleep 0.05
        done
        kill -KILL "$pid" 2>/dev/null
        [ "$(tr -d ' ' 2>/dev/null <"$lock")" = "$pid" ] && rm -f "$lock" "/tmp/.X11-unix/X$n"
    done
    fail "no Xvfb could start: $(cat "$E2E_TMP/xvfb-$2.log")"
}
e2e_stop_xvfb() {  # a server that must be killed leaves its socket behind
    local entry pid display
    for entry in "${XVFB[@]}"; do
        read -r pid display <<<"$entry"
        kill -TERM "$pid" 2>/dev/null
        for _ in $(seq 1 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        if kill -0 "$pid" 2>/dev/null; then
            kill -KILL "$pid"
            rm -f "/tmp/.X11-unix/X$display" "/tmp/.X$display-lock"
        fi
    done
}

# A session bus of our own on a socket file (the hosts' network namespaces
# cannot reach abstract sockets of another namespace), the accessibility bus
# beside it (its launcher marked with BUS_MARK) and the fake notification
# service. Exports DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR.
e2e_start_session_buses() {  # $1: a python3 with GLib's bindings
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$E2E_TMP/session-bus"
    export XDG_RUNTIME_DIR="$E2E_TMP/run"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    dbus-daemon --session --fork --address="$DBUS_SESSION_BUS_ADDRESS" --print-pid=3 \
        3>"$E2E_TMP/session-bus.pid"
    E2E_PIDS+=("$(cat "$E2E_TMP/session-bus.pid")")
    env "$BUS_MARK" "$BUS_LAUNCHER" --launch-immediately >"$E2E_TMP/bus-launcher.log" 2>&1 &
    E2E_PIDS+=($!)
    e2e_start_notification_service "$1"
}

# What a test's driver started (copies, packet capture), listed in the file
# DRIVER_PIDS, should it have died before it could end them itself.
e2e_end_driver_pids() {
    local pid
    while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$DRIVER_PIDS"
    sleep 0.3
    while read -r pid; do kill -9 "$pid" 2>/dev/null || true; done <"$DRIVER_PIDS"
}

# The accessibility registry is started by its bus and is nobody's child; it
# leaves with its bus, but make sure: it carries BUS_MARK in its environment.
e2e_end_marked() {
    local environ
    for environ in /proc/[0-9]*/environ; do
        if { tr '\0' '\n' <"$environ"; } 2>/dev/null | grep -qxF "$BUS_MARK"; then
            kill "$(basename "$(dirname "$environ")")" 2>/dev/null || true
        fi
    done
}

# The desktop's notification service on the session bus of
# DBUS_SESSION_BUS_ADDRESS: a fake that writes down what it is sent to
# $E2E_TMP/notifications.jsonl. Returns once it owns its name.
e2e_start_notification_service() {  # $1: a python3 with GLib's bindings
    "$1" "$(dirname "${BASH_SOURCE[0]}")/../ui/fake_notification_service.py" \
        --log "$E2E_TMP/notifications.jsonl" </dev/null \
        >"$E2E_TMP/notification-service.out" 2>&1 &
    E2E_PIDS+=($!)
    for _ in $(seq 1 100); do
        grep -qs ready "$E2E_TMP/notification-service.out" && return 0
        sleep 0.05
    done
}
