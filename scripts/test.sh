#!/usr/bin/env bash
# Installs what is missing, then: checks formatting, builds with warnings as errors and runs
# every test (unit, end-to-end through a private adb server, the title on a real X server,
# soak); packages that build and checks the package; runs the same suite again built with
# AddressSanitizer and UndefinedBehaviorSanitizer; and runs each fuzzer for 20 s.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check-format.sh
scripts/build.sh -DDEVICE_INFO_WERROR=ON
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 1800)
scripts/check-package.sh
scripts/sanitize.sh
scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

# Reached only when everything passed (set -e): one closing line for the whole run.
count() { (cd "$1" && ctest -N "${@:2}" | sed -n 's/^Total Tests: //p'); }
# The package check counts as one, each fuzzer as one.
echo "total: $(($(count build) + $(count build-asan -LE xcb) + 1 + 6)) passed, 0 failed"
