#!/usr/bin/env bash
# Try Device Info without a device: a private adb server, a simulated device, and the window
# connected to it. Closing the window stops the rest. Another device: demo.sh older_phone,
# old_tablet (Android 4.1), samsung_phone; a phone on a hub port that cannot keep up, losing
# charge while plugged in: demo.sh draining (its power on hover over the power panel);
# an iPhone: demo.sh iphone (or any iPhone profile: untrusted_iphone, charging_iphone); one
# device of each kind: demo.sh both; a headset, a mouse and a UPS through a simulated UPower on a
# private bus: demo.sh peripherals.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
. scripts/private-adb.sh
private_adb_start
case "${1:-current_phone}" in
iphone) private_device current_iphone ;;
draining) private_device draining_phone ;;
peripherals) private_peripherals ;;
both) private_device current_phone && private_device current_iphone ;;
*) private_device "${1:-current_phone}" ;;
esac
build/device-info
