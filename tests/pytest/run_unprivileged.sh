#!/usr/bin/env bash
# Runs a command as an unprivileged user where it is started as root, as sway asks: "nobody",
# with a home of its own that goes when the command ends.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi
home=$(mktemp -d /tmp/device-info-unprivileged.XXXXXX)
chown nobody:nogroup "$home"
trap 'rm -rf "$home"' EXIT
setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env -- \
    env -u XDG_RUNTIME_DIR HOME="$home" TMPDIR="$home" \
    DEVICE_INFO_EXE="${DEVICE_INFO_EXE:-}" DEVICE_SIM_EXE="${DEVICE_SIM_EXE:-}" \
    DEVICE_INFO_SOURCE_DIR="${DEVICE_INFO_SOURCE_DIR:-}" DEVICE_INFO_SHOTS="${DEVICE_INFO_SHOTS:-}" \
    PYTHONDONTWRITEBYTECODE=1 "$@"
