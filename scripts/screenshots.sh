#!/usr/bin/env bash
# Writes screenshots of the real window under Xvfb into docs/: the not-connected look, a
# connected look from a scripted link, and the connected look through a private adb server
# and a simulated phone (the demo's path), and through a simulated usbmuxd with an iPhone, and
# that iPhone's Battery history window; and the exporter's page of devices.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
shoot() { QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" build/tests/window-shots "$@"; }
shoot docs
. scripts/private-adb.sh
private_adb_start current_phone
shoot --adb "$ADB_SERVER_SOCKET" docs
private_device current_iphone
shoot --iphone docs
shoot --history docs
private_peripherals
shoot --upower docs
# The exporter's page, light and dark, at 320 and 1280 px, as its browser test draws it.
(cd build/tests && QT_QPA_PLATFORM=offscreen ./device_info_e2e --gtest_filter='ExporterPage.*' \
    >/dev/null && cp page-shots/devices-*.png ../../docs/)
# Waybar's bar with the watcher's item and the --follow module, and the window it opened, in a
# headless sway (as nobody where this runs as root).
DEVICE_INFO_SHOTS="$PWD/docs" DEVICE_INFO_EXE="$PWD/build/device-info" \
    DEVICE_SIM_EXE="$PWD/build/device-sim" DEVICE_INFO_SOURCE_DIR="$PWD" \
    bash tests/pytest/run_unprivileged.sh /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    tests/pytest/test_sway.py >/dev/null
echo "wrote docs/not-connected.png docs/connected-sample.png docs/connected.png" \
    "docs/connected-iphone.png docs/battery-history.png docs/connected-headset.png" \
    "docs/devices-*.png docs/panel-waybar.png"
