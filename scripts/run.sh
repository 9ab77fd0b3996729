#!/usr/bin/env bash
# Installs what is missing, builds, and opens the Device Info window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# The program alone: the tests, benchmarks and fuzzers wait for the test command.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target device-info
exec ./build/device-info "$@"
