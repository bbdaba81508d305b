#!/usr/bin/env bash
# Builds the fuzz targets (clang++, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)
# in build/fuzz and runs each one for SECONDS (default 30) on a copy of its seed corpus in
# fuzz/corpus/<target>, so the committed corpus never grows, with the dictionary
# fuzz/dict/<target>.dict where there is one. Fails on any crash, leak,
# timeout, out-of-memory or sanitizer report; the offending input and the log are kept in
# build/fuzz/findings/<target>/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      TARGET: vqv wav lines picture aviwriter
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift $(($# > 0 ? 1 : 0))
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS] [TARGET...]" >&2
  exit 2
fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(vqv wav lines picture aviwriter)
fi

build=build/fuzz
echo "=== building fuzz targets in $build ==="
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORPH_FUZZ=ON -DMORPH_BUILD_TESTS=OFF -DMORPH_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzzers -j2

# Files the targets write go to RAM where there is some; a crash leaves nothing behind.
base=${TMPDIR:-/tmp}
if [[ -d /dev/shm && -w /dev/shm ]]; then
  base=/dev/shm
fi
work=$(mktemp -d "$base/morph-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen

status=0
summary=()
for target in "${targets[@]}"; do
  exe=$build/fuzz/${target}_fuzz
  seeds=fuzz/corpus/$target
  if [[ ! -x $exe || ! -d $seeds ]]; then
    echo "no fuzz target or seed corpus named '$target'" >&2
    exit 2
  fi
  dir=$work/$target
  mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
  cp "$seeds"/* "$dir/corpus/"
  seedFiles=$(find "$seeds" -type f | wc -l)
  seedBytes=$(find "$seeds" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')

  echo "=== fuzzing $target for ${seconds}s ($seedFiles seeds, $seedBytes bytes) ==="
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048
    -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$dir/artifacts/")
  if [[ -f fuzz/dict/$target.dict ]]; then
    options+=(-dict="fuzz/dict/$target.dict")
  fi
  log=$dir/log.txt
  result=0
  TMPDIR=$dir/tmp "$exe" "$dir/corpus" "${options[@]}" >"$log" 2>&1 || result=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  corpusFiles=$(find "$dir/corpus" -type f | wc -l)
  verdict=ok
  # A report can come without a failing exit status (a leak in a forked helper, say).
  if ((result != 0)) || grep -qE 'ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:|ERROR: libFuzzer|fuzz property failed' "$log" ||
    [[ -n $(ls -A "$dir/artifacts") ]]; then
    verdict=FAILED
    status=1
    keep=$build/findings/$target
    rm -rf "$keep"
    mkdir -p "$keep"
    cp "$log" "$keep/"
    cp "$dir/artifacts/"* "$keep/" 2>/dev/null || true
    echo "--- $target failed (exit $result); log and inputs kept in $keep ---"
    if grep -qE 'ERROR: |runtime error:|fuzz property failed' "$log"; then
      grep -E -m 1 -A 40 'ERROR: |runtime error:|fuzz property failed' "$log" || true
    else
      tail -n 40 "$log"
    fi
  fi
  summary+=("$(printf '%-10s %-6s %10s executions   seeds %3d files %7d bytes   corpus after run %4d files' \
    "$target" "$verdict" "${runs:-?}" "$seedFiles" "$seedBytes" "$corpusFiles")")
done

echo "=== fuzz summary (${seconds}s per target) ==="
printf '%s\n' "${summary[@]}"
exit $status
