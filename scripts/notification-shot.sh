#!/usr/bin/env bash
# Writes docs/notification.png: the window and the notification a real notification daemon
# (Debian's dunst) shows under Xvfb, on a session bus of its own, when a simulated phone that
# is charging passes the limit of 80%. Needs dunst and imagemagick besides what setup.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
work=$(mktemp -d)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
. scripts/private-adb.sh
private_adb_start
# The demo's phone, named as a lab names it, charging at 81%.
python3 - "$work/phone.json" <<'PY'
import json, sys
phone = json.load(open("tools/device_sim/profiles/current_phone.json"))
phone["deviceName"] = "Pixel Lab 7"
phone["battery"].update(level=81, status=2, usb=True)
json.dump(phone, open(sys.argv[1], "w"))
PY
cp "$work/phone.json" tools/device_sim/profiles/notification_shot.json
trap 'rm -f tools/device_sim/profiles/notification_shot.json; private_adb_stop; cleanup' EXIT
private_device notification_shot
mkdir -p "$work/config/device-info"
printf '[notifications]\nchargedPercent=80\nintervalSeconds=10\n' >"$work/config/device-info/device-info.conf"

Xvfb :57 -screen 0 1024x600x24 -dpi 96 >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:57
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus" 4>"$work/bus.pid"
export DBUS_SESSION_BUS_ADDRESS=$(cat "$work/bus")
pids+=("$(cat "$work/bus.pid")")
sleep 1
printf '[global]\n    font = Liberation Sans 10\n    geometry = "360x5-12+12"\n    frame_width = 1\n[urgency_normal]\n    background = "#2b2b2b"\n    foreground = "#ffffff"\n    timeout = 0\n' >"$work/dunstrc"
dunst -config "$work/dunstrc" >/dev/null 2>&1 &
pids+=($!)
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb build/device-info >/dev/null 2>&1 &
pids+=($!)
sleep 16 # connected, then the first read at 10 s
import -window root docs/notification.png
echo "wrote docs/notification.png"
