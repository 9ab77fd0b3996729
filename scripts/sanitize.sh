#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (LeakSanitizer on)
# into build-asan/ and runs the whole test suite there, end-to-end tests and soak included.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DDEVICE_INFO_WERROR=ON \
    -DDEVICE_INFO_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$(nproc)"
# A small quarantine keeps the soak test's memory figures about the program, not ASan.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:quarantine_size_mb=16
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
cd build-asan
# Not the test on a real X server: Debian's libxkbcommon-x11 reads past a string there, which
# ASan stops at before any of our code runs; the regular build runs that test.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 1800 -LE xcb
