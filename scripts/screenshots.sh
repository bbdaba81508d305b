#!/usr/bin/env bash
# Saves a PNG picture of each visible window of the program into a folder (default
# docs/screenshots), under a virtual X display, so the windows can be seen without one.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
bash scripts/setup.sh
if ! command -v xvfb-run >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth
fi
bash scripts/build.sh release
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
  build/release/src/app/morph-screenshots "$out"
