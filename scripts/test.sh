#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: optimised, and under
# AddressSanitizer + UndefinedBehaviorSanitizer; then runs every fuzz target for a bounded
# time (scripts/fuzz.sh; FUZZ_SECONDS per target, 30 unless set).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for flavour in release asan; do
  echo "=== $flavour build ==="
  bash scripts/build.sh "$flavour"
  echo "=== $flavour tests ==="
  ctest --test-dir "build/$flavour" --output-on-failure -j"$(nproc)" || status=1
done
echo "=== fuzzing ==="
bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}" || status=1
exit $status
