#!/usr/bin/env bash
# Installs the Debian packages Device Info needs to build, run and test, where any is missing.
set -euo pipefail

packages=(
    cmake make g++ git
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libhttp-parser-dev libsystemd-dev qt6-websockets-dev qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite
    sqlite3
    googletest libgtest-dev
    clang-format clang libclang-rt-14-dev
    fonts-crosextra-carlito fonts-liberation
    adb android-sdk-platform-tools-common
    xvfb xauth xdotool
    qt6-wayland sway waybar grim wl-clipboard wtype
    dpkg-dev desktop-file-utils appstream lintian man-db
    libimobiledevice-dev libusbmuxd-dev libplist-dev usbmuxd libimobiledevice-utils pkg-config
    libssl-dev openssl libyaml-cpp-dev libcrypt-dev
    dbus-daemon
    python3 python3-pytest python3-requests python3-dbusmock systemd
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
# Debian's Prometheus and Alertmanager, for the exporter's tests: promtool, amtool, and servers
# the tests start on ports of their own.
services=()
for p in prometheus prometheus-alertmanager; do
    installed "$p" || services+=("$p")
done
# Debian's Chromium, for the tests of the exporter's page; where it cannot be installed, those
# tests say so and are skipped.
installed chromium || missing_chromium=1
[ ${#missing[@]} -eq 0 ] && [ ${#services[@]} -eq 0 ] && [ -z "${missing_chromium:-}" ] &&
    exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi

# Their packages would start a system Prometheus on port 9090 and Alertmanager on 9093, and
# enable them at boot: a policy that starts no service while they install, then the services
# disabled again. Nothing runs or is enabled that was not before.
if [ ${#services[@]} -gt 0 ]; then
    echo "Installing: ${services[*]} (their services neither started nor enabled)"
    policy=/usr/sbin/policy-rc.d
    saved=$(mktemp)
    had_policy=""
    if [ -e "$policy" ]; then had_policy=1; "${sudo[@]}" cp -p "$policy" "$saved"; fi
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 755 "$policy"
    status=0
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${services[@]}" || status=$?
    if [ -n "$had_policy" ]; then "${sudo[@]}" cp -p "$saved" "$policy"; else "${sudo[@]}" rm -f "$policy"; fi
    rm -f "$saved"
    [ "$status" -eq 0 ] || exit "$status"
    for p in "${services[@]}"; do
        "${sudo[@]}" env DPKG_MAINTSCRIPT_PACKAGE="$p" deb-systemd-helper disable \
            "$p.service" >/dev/null 2>&1 || true
        "${sudo[@]}" update-rc.d "$p" disable >/dev/null 2>&1 || true
    done
fi

if [ -n "${missing_chromium:-}" ]; then
    echo "Installing: chromium"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        chromium || echo "chromium cannot be installed here: the page's browser tests are skipped"
fi

# A phone already plugged in keeps the permissions it got before the udev rules came; where
# udev runs (not in a container), apply them now.
if [ -S /run/udev/control ] && command -v udevadm >/dev/null; then
    "${sudo[@]}" udevadm control --reload-rules || true
    "${sudo[@]}" udevadm trigger --subsystem-match=usb --action=change || true
fi
# Outside a desktop seat the rules grant USB access through the plugdev group.
user="${SUDO_USER:-$(id -un)}"
if [ "$user" != root ] && getent group plugdev >/dev/null && ! id -nG "$user" | grep -qw plugdev
then
    "${sudo[@]}" usermod -aG plugdev "$user"
    echo "Added $user to the plugdev group for USB access to phones; log out and in again."
fi
