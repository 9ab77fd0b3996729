#!/usr/bin/env bash
# Installs the Debian packages Device Info needs to build, run and test, where any is missing.
set -euo pipefail

packages=(
    cmake make g++ git
    qt6-base-dev qt6-base-dev-tools libgl-dev
    googletest libgtest-dev
    clang-format clang libclang-rt-14-dev
    fonts-crosextra-carlito fonts-liberation
    adb
    xvfb xauth
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
