#!/usr/bin/env bash
# Times morph-render on the warp's benchmark scenario as a whole process (pictures read, 30
# frames warped, the .vQv file written) with the fast warp against the reference warp
# (--warp reference: the formulas pixel by pixel on one thread), run after run side by side,
# and checks that both write the same bytes. It also times two parts of the fast run, in the
# same turns: the run without any output (start-up, reading and the warp) and a run of 2
# frames with the .vQv file (start-up, reading and writing the file, with nothing to warp).
#
#   scripts/bench-render.sh [RUNS]        RUNS runs of each warp per scenario (default 3)
#
# Environment: BUILD names the build folder (default build/release; configured and built
# here), JOBS the build's parallel jobs (default 2), THREADS morph-render's --threads for the
# fast warp (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
build=${BUILD:-build/release}
jobs=${JOBS:-2}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$jobs" --target morph-render morph_bench >/dev/null
render="$build/src/cli/morph-render"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/morph_bench" --write-scenario="$work"

# Seconds of wall time of one command.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

status=0
for scenario in S1 S2; do
  case $scenario in
    S1) constants=(--a 2 --b 1 --p 0) ;;
    S2) constants=(--a 1 --b 1.5 --p 0.5) ;;
  esac
  common=(--source "$work/source.png" --target "$work/target.png" --lines "$work/scenario.lines"
          --mode endpoints "${constants[@]}")
  threads=()
  if [[ -n ${THREADS:-} ]]; then threads=(--threads "$THREADS"); fi
  fast_times=""
  reference_times=""
  bare_times=""
  fixed_times=""
  same=identical
  for ((run = 1; run <= runs; run++)); do
    fast_times+=" $(seconds "$render" "${common[@]}" --frames 30 "${threads[@]}" --vqv "$work/fast.vQv")"
    reference_times+=" $(seconds "$render" "${common[@]}" --frames 30 --warp reference --vqv "$work/reference.vQv")"
    bare_times+=" $(seconds "$render" "${common[@]}" --frames 30 "${threads[@]}")"
    fixed_times+=" $(seconds "$render" "${common[@]}" "${threads[@]}" --frames 2 --vqv "$work/two.vQv")"
    if ! cmp -s "$work/fast.vQv" "$work/reference.vQv"; then
      same=DIFFERENT
      status=1
    fi
  done
  fast_median=$(echo "$fast_times" | median)
  reference_median=$(echo "$reference_times" | median)
  echo "$scenario  fast:$fast_times s (median $fast_median)  reference:$reference_times s (median $reference_median)"
  awk -v f="$fast_median" -v l="$reference_median" -v s="$scenario" -v bytes="$(stat -c %s "$work/fast.vQv")" \
    -v same="$same" 'BEGIN { printf "%s  %.1fx faster; .vQv files %s (%d bytes)\n", s, l / f, same, bytes }'
  echo "$scenario  fast run's parts (medians): without output $(echo "$bare_times" | median) s," \
    "2 frames with the .vQv file $(echo "$fixed_times" | median) s"
done
exit $status
