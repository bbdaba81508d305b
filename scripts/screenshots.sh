#!/usr/bin/env bash
# Saves a PNG picture of each visible window of the program into a folder (default
# docs/screenshots), under a virtual X display, so the windows can be seen without one:
# once right after start-up, and once after a whole morph of the bundled samples
# (files with the "morph-" prefix).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
bash scripts/setup.sh
if ! command -v xvfb-run >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth
fi
bash scripts/build.sh release
run() { QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1200x24" build/release/src/app/morph-screenshots "$@"; }
run "$out"
run "$out/morph" --morph samples/source.png samples/target.png samples/demo.lines 5
