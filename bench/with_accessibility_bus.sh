#!/bin/sh
# Runs a command on a virtual X display with a session bus and an
# accessibility bus, so that Qt's accessibility bridge is active as under a
# screen reader:  bench/with_accessibility_bus.sh build/h-bench/bench/bench_tree
# Needs xvfb, dbus and at-spi2-core.
set -eu
[ $# -ge 1 ] || { echo "usage: $0 command [arguments]" >&2; exit 2; }
export QT_QPA_PLATFORM=xcb
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
exec xvfb-run -a dbus-run-session -- sh -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    launcher=$!
    trap "kill $launcher 2>/dev/null" EXIT
    "$@"
' with-accessibility-bus "$@"
