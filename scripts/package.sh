#!/usr/bin/env bash
# Builds the Debian package device-info_VERSION_amd64.deb from the build in build/ (building
# it first where needed) and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
(cd build && cpack -G DEB >/dev/null)
ls build/device-info_*_amd64.deb
