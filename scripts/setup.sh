#!/usr/bin/env bash
# Installs the Debian packages Device Info needs to build, run and test, where any is missing.
set -euo pipefail

packages=(
    cmake make g++ git
    qt6-base-dev qt6-base-dev-tools libgl-dev
    googletest libgtest-dev
    clang-format clang libclang-rt-14-dev
    fonts-crosextra-carlito fonts-liberation
    adb android-sdk-platform-tools-common
    xvfb xauth xdotool
    dpkg-dev desktop-file-utils appstream lintian man-db
    libimobiledevice-dev libusbmuxd-dev libplist-dev usbmuxd libimobiledevice-utils pkg-config
    libssl-dev
    python3
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}"

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
