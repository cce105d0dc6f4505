#!/usr/bin/env bash
# The program at home on a desktop: under a window manager (openbox) with
# "stále navrchu" on and no tray at start, then with a tray (trayer) that
# appears while it runs and goes again. Peer events come from murmex3-cli on
# a second host. The windows are read from the X server (xdotool, xprop,
# xwininfo), as a window manager and a user see them.
#
#   desktop.sh PROGRAM CLI
set -euo pipefail
MURMEX3="$(realpath "$1")"
CLI="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/netns.sh"
e2e_require_root
missing=()
for tool in Xvfb openbox trayer xdotool xprop xwininfo; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "SKIP: missing ${missing[*]} (scripts/install-deps.sh installs them)"
    exit 77
fi

fail() {
    echo "FAIL: $*"
    [ -n "${XVFB_DISPLAY:-}" ] && DISPLAY=":$XVFB_DISPLAY" xwininfo -root -tree 2>/dev/null |
        grep -E '"(murmex3|trayer|panel)"' | head -20
    for log in "$E2E_TMP"/*.log; do echo "--- $log"; tail -15 "$log"; done
    exit 1
}
e2e_make_hosts
trap 'e2e_stop_xvfb; e2e_cleanup' EXIT
e2e_start_xvfb "$E2E_HOST_A" desktop
export DISPLAY=":$XVFB_DISPLAY"
# on_a COMMAND...: runs it on host A in place of the calling (sub)shell.
on_a() { exec ip netns exec "$E2E_HOST_A" env HOME="$E2E_TMP/home-wm" "$@"; }
mkdir -p "$E2E_TMP/home-wm"
(on_a openbox --sm-disable >"$E2E_TMP/openbox.log" 2>&1) &
E2E_PIDS+=($!)
for _ in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.05
done

# The program without a session bus (and none started for it on the display):
# no desktop notification service, so without a tray its notifications are boxes.
HOME_A="$E2E_TMP/home-jana"
mkdir -p "$HOME_A/.config/Quillory"
chmod 700 "$HOME_A"
printf '[Settings]\nUserName=jana\nWindowsUserName=0\nTopMost=1\nBTooltipTimeout=1\n' \
    >"$HOME_A/.config/Quillory/Mrmx3.conf"
(cd "$(dirname "$MURMEX3")" && exec ip netns exec "$E2E_HOST_A" env -i PATH="$PATH" \
    HOME="$HOME_A" USER=jana LOGNAME=jana DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$HOME_A" \
    DBUS_SESSION_BUS_ADDRESS=disabled: QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="murmex3.ui.info=true" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" "$MURMEX3" >"$E2E_TMP/program.log" 2>&1) &
PROGRAM=$!
E2E_PIDS+=($PROGRAM)
PEER="petr@$(hostname | cut -d. -f1 | cut -c1-15)"
message() {  # message TEXT: petr's message, which jana is notified of
    ip netns exec "$E2E_HOST_B" "$CLI" send --to "$E2E_ADDR_A" --name petr -- "$1" \
        >>"$E2E_TMP/cli.log" 2>&1 || fail "murmex3-cli could not send"
}
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | sed -n 1p; }
wait_visible() {  # wait_visible PATTERN SECONDS: the window's id once it shows
    local id
    for _ in $(seq 1 $(($2 * 20))); do
        id="$(visible "$1")" && [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}
wait_gone() {  # wait_gone PATTERN SECONDS
    for _ in $(seq 1 $(($2 * 20))); do
        [ -z "$(visible "$1")" ] && return 0
        sleep 0.05
    done
    return 1
}
# above LOWER UPPER: UPPER comes after LOWER in the window manager's stacking order.
above() {
    local order
    order="$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')"
    local lower upper i=0 at_lower=-1 at_upper=-1
    lower=$(printf '0x%x' "$1")
    upper=$(printf '0x%x' "$2")
    for w in $order; do
        [ "$w" = "$lower" ] && at_lower=$i
        [ "$w" = "$upper" ] && at_upper=$i
        i=$((i + 1))
    done
    [ "$at_lower" -ge 0 ] && [ "$at_upper" -gt "$at_lower" ]
}
press_in() {  # press_in WINDOW KEYS...: focus the window and press the keys
    local window="$1"
    shift
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    xdotool key "$@"
}

# --- without a tray, "stále navrchu" on --------------------------------------------------
FRAME="$(wait_visible '^jana@' 30)" || fail "no main window"
read -r x y < <(xdotool getwindowgeometry --shell "$FRAME" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2}
    END {print x, y}')
[ "$x" -ge 100 ] && [ "$y" -ge 100 ] || fail "the top-most main window landed at $x,$y"
on_top() { xprop -id "$FRAME" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }
e2e_wait_until 5 on_top || fail "the main window is not on top"
echo "main window: on top, placed at $x,$y"

press_in "$FRAME" alt+z
sleep 0.3
xdotool key n
SHEET="$(wait_visible '^Nastaven.* parametr' 10)" || fail "no settings sheet"
e2e_wait_until 5 above "$FRAME" "$SHEET" || fail "the settings sheet is below the main window"
press_in "$SHEET" Escape
wait_gone '^Nastaven.* parametr' 5 || fail "the settings sheet stayed"
echo "settings sheet: above the main window"

message "Ahoj"
BOX="$(wait_visible '^Murmex3 - OK$' 10)" || fail "no notification box"
e2e_wait_until 5 above "$FRAME" "$BOX" || fail "the notification box is below the main window"
press_in "$BOX" Return
wait_gone '^Murmex3 - OK$' 5 || fail "the notification box stayed"
BOX_CLOSED=$EPOCHREALTIME
echo "notification box: above the main window"

# --- a tray appears ---------------------------------------------------------------------
(on_a trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel \
    --height 24 >"$E2E_TMP/trayer.log" 2>&1) &
TRAYER=$!
E2E_PIDS+=($TRAYER)
# The icon: the program's window inside the panel (absolute x, y, width, height).
icon_geometry() {
    xwininfo -root -tree | awk '
        /"panel": \("panel" "trayer"\)/ { depth = match($0, /[^ ]/); inside = 1; next }
        inside && match($0, /[^ ]/) <= depth { inside = 0 }
        inside && !done && /\("murmex3" "Mrmx3"\)/ {
            for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) size = $i
            split(size, wh, /[x+]/); abs = $NF; sub(/^\+/, "", abs); split(abs, xy, /\+/)
            print xy[1], xy[2], wh[1], wh[2]; done = 1 }'
}
# settle_icon: the icon's centre in ICON_X, ICON_Y, once two readings a moment
# apart agree: the panel may still move an icon that has just docked.
settle_icon() {
    local last="" now
    for _ in $(seq 1 40); do
        now="$(icon_geometry)"
        [ -n "$now" ] && [ "$now" = "$last" ] && break
        last="$now"
        sleep 0.25
    done
    [ -n "$now" ] && [ "$now" = "$last" ] || return 1
    read -r ix iy iw ih <<<"$now"
    ICON_X=$((ix + iw / 2))
    ICON_Y=$((iy + ih / 2))
}
settle_icon || fail "the icon did not dock in the tray that appeared"
echo "tray icon: docked at $ICON_X,$ICON_Y"
press_in "$FRAME" alt+F4
wait_gone '^jana@' 5 || fail "closing the main window with a tray did not hide it"
echo "main window: hidden by closing it, with the tray"

# balloon: the program's visible window without a title of its own (Qt names
# it after the program) that is larger than the icon.
balloon() {
    local id
    for id in $(xdotool search --onlyvisible --class Mrmx3 2>/dev/null); do
        [ "$(xdotool getwindowname "$id" 2>/dev/null)" = Mrmx3 ] || continue
        read -r w h < <(xdotool getwindowgeometry --shell "$id" |
            awk -F= '/^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END {print w, h}')
        [ "$w" -gt 60 ] && [ "$h" -gt 30 ] && { echo "$id"; return 0; }
    done
    return 1
}
wait_balloon() {
    for _ in $(seq 1 200); do
        BALLOON="$(balloon)" && return 0
        sleep 0.05
    done
    fail "no balloon for $1"
}

# A left click on the icon while a balloon shows: the window, no conversation.
message "Jedna"
wait_balloon "the first message"
settle_icon || fail "the icon left the tray"
xdotool mousemove --sync "$ICON_X" "$ICON_Y" click 1
wait_visible '^jana@' 5 >/dev/null || fail "a left click on the icon did not show the window"
sleep 0.5
[ -z "$(visible "^$PEER\$")" ] || fail "a left click on the icon opened the conversation"
press_in "$(visible '^jana@')" alt+F4
wait_gone '^jana@' 5 || fail "the main window stayed"
echo "left click on the icon over a balloon: the window, no conversation"

# A right click: the tray's menu, no conversation.
message "Dvě"
wait_balloon "the second message"
before="$(xdotool search --onlyvisible --class Mrmx3 | sort)"
settle_icon || fail "the icon left the tray"
xdotool mousemove --sync "$ICON_X" "$ICON_Y" click 3
menu=""
for _ in $(seq 1 100); do
    menu="$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --class Mrmx3 | sort) |
        sed -n 1p)"
    [ -n "$menu" ] && break
    sleep 0.05
done
[ -n "$menu" ] || fail "a right click on the icon showed no menu"
sleep 0.5
[ -z "$(visible "^$PEER\$")" ] || fail "a right click on the icon opened the conversation"
xdotool key Escape
echo "right click on the icon over a balloon: the menu, no conversation"

# A balloon kept on the screen by the mouse past its time (1 s) still opens
# the conversation.
xdotool mousemove --sync 10 10
message "Tři"
wait_balloon "the third message"
read -r bx by < <(xdotool getwindowgeometry --shell "$BALLOON" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2}
    /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END {print x + int(w / 2), y + int(h / 2)}')
xdotool mousemove --sync "$bx" "$by"
sleep 2
[ "$(balloon)" = "$BALLOON" ] || fail "the hovered balloon went before it was clicked"
xdotool click 1
wait_visible "^$PEER\$" 5 >/dev/null || fail "a click on the hovered balloon opened nothing"
press_in "$(visible "^$PEER\$")" Escape
wait_gone "^$PEER\$" 5 || fail "the conversation stayed"
echo "a balloon hovered past its time: its click opens the conversation"

# --- the tray goes ------------------------------------------------------------------------
kill "$TRAYER"
wait_visible '^jana@' 10 >/dev/null || fail "the main window did not come back when the tray went"
# No box within 10 s of the last one closing: the next one comes after that.
quiet=$(awk -v t="$BOX_CLOSED" -v n="$EPOCHREALTIME" 'BEGIN { w = t + 10.5 - n; print (w > 0 ? w : 0) }')
sleep "$quiet"
message "Čtyři"
BOX="$(wait_visible '^Murmex3 - OK$' 10)" || fail "no box once the tray had gone"
press_in "$BOX" Return
echo "tray gone: the main window is shown, notifications are boxes again"
kill -0 "$PROGRAM" 2>/dev/null || fail "the program ended"
echo "PASS"
