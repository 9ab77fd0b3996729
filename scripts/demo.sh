#!/usr/bin/env bash
# Try Device Info without a device: a private adb server, a simulated phone, and the window
# connected to it. Closing the window stops the rest. Another profile: demo.sh older_phone
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
. scripts/private-adb.sh
private_adb_start "${1:-current_phone}"
build/device-info
