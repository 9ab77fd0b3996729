#!/usr/bin/env bash
# Writes screenshots of the real window under Xvfb into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" build/tests/window-shots docs
echo "wrote docs/not-connected.png docs/connected-sample.png"
