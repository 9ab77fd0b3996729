#!/usr/bin/env bash
# Fails when a C++ source is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(find app care cli desktop exporter bench device_link display layout report history tests tools \
    \( -name '*.cpp' -o -name '*.h' \) -not -path '*/fixtures/*' 2>/dev/null | sort)
clang-format --dry-run --Werror "${sources[@]}"
echo "format: ${#sources[@]} sources clean"
