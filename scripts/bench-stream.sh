#!/usr/bin/env bash
# Measures what streaming the frames changes in morph-render, for one or two builds side by
# side (run after run, so both see the same machine):
# - peak memory (/usr/bin/time's maximum resident set) of --vqv for 2048 x 2048 x 60 frames
#   and 4096 x 4096 x 30 frames: the warp's benchmark scenario scaled up;
# - wall time of --png-dir against --vqv on the scenario (512 x 512, 20 lines, 30 frames);
# - user CPU time of --threads 32 against --threads 2 on the scenario.
#
#   scripts/bench-stream.sh RENDER [OTHER_RENDER] [RUNS]
#
# RENDER and OTHER_RENDER are morph-render executables (an older build, say); RUNS runs of
# each (default 3), medians reported. Needs ffmpeg to scale the pictures and morph_bench
# (BENCH, default build/release/bench/morph_bench) to write the scenario.
set -euo pipefail
cd "$(dirname "$0")/.."
renders=("$1")
runs=3
if [[ $# -ge 2 && -x $2 ]]; then renders+=("$2"); runs=${3:-3}; else runs=${2:-3}; fi
bench=${BENCH:-build/release/bench/morph_bench}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --write-scenario="$work" >/dev/null
for side in 2048 4096; do
  factor=$((side / 512))
  for picture in source target; do
    ffmpeg -loglevel error -y -i "$work/$picture.png" -vf "scale=$side:$side:flags=bicubic" \
      -pix_fmt rgb24 "$work/${picture}_$side.png"
  done
  awk -v f="$factor" '/^[ST] / { print $1, $2 * f, $3 * f, $4 * f, $5 * f; next } { print }' \
    "$work/scenario.lines" >"$work/lines_$side.lines"
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# "elapsed user maxrss-KiB" of one run.
measure() {
  /usr/bin/time -f "%e %U %M" -o "$work/time" "$@" >/dev/null
  cat "$work/time"
}

scenario=(--source "$work/source.png" --target "$work/target.png" --lines "$work/scenario.lines"
          --frames 30)
for r in "${!renders[@]}"; do
  declare "rss2048_$r=" "rss4096_$r=" "vqv_$r=" "png_$r=" "u2_$r=" "u32_$r="
done
for ((run = 1; run <= runs; run++)); do
  for r in "${!renders[@]}"; do
    render=${renders[$r]}
    read -r _ _ kib < <(measure "$render" --source "$work/source_2048.png" \
      --target "$work/target_2048.png" --lines "$work/lines_2048.lines" --frames 60 \
      --vqv "$work/big.vQv")
    declare "rss2048_$r=$(eval echo \$rss2048_$r) $kib"
    read -r _ _ kib < <(measure "$render" --source "$work/source_4096.png" \
      --target "$work/target_4096.png" --lines "$work/lines_4096.lines" --frames 30 \
      --vqv "$work/big.vQv")
    test "$(stat -c %s "$work/big.vQv")" -eq $((12 + 4 * 30 * 4096 * 4096))
    declare "rss4096_$r=$(eval echo \$rss4096_$r) $kib"
    rm -f "$work/big.vQv"
    read -r vqv _ _ < <(measure "$render" "${scenario[@]}" --vqv "$work/out.vQv")
    rm -rf "$work/frames"
    read -r png _ _ < <(measure "$render" "${scenario[@]}" --png-dir "$work/frames")
    declare "vqv_$r=$(eval echo \$vqv_$r) $vqv" "png_$r=$(eval echo \$png_$r) $png"
    read -r _ u2 _ < <(measure "$render" "${scenario[@]}" --threads 2 --vqv "$work/out.vQv")
    read -r _ u32 _ < <(measure "$render" "${scenario[@]}" --threads 32 --vqv "$work/out.vQv")
    declare "u2_$r=$(eval echo \$u2_$r) $u2" "u32_$r=$(eval echo \$u32_$r) $u32"
  done
done
for r in "${!renders[@]}"; do
  echo "${renders[$r]}:"
  for name in rss2048 rss4096 vqv png u2 u32; do
    var="${name}_$r"
    printf '  %-8s %s (median %s)\n' "$name" "${!var}" "$(echo "${!var}" | median)"
  done
  r2048=$(eval echo \$rss2048_$r | median)
  r4096=$(eval echo \$rss4096_$r | median)
  vqv=$(eval echo \$vqv_$r | median)
  png=$(eval echo \$png_$r | median)
  u2=$(eval echo \$u2_$r | median)
  u32=$(eval echo \$u32_$r | median)
  awk -v a="$r2048" -v b="$r4096" -v v="$vqv" -v p="$png" -v u="$u2" -v w="$u32" 'BEGIN {
    printf "  peak RSS 2048^2 x 60: %.0f MiB; 4096^2 x 30: %.0f MiB\n", a / 1024, b / 1024
    printf "  --png-dir %.2f s / --vqv %.2f s = %.2fx\n", p, v, p / v
    printf "  user CPU --threads 32 %.2f s / --threads 2 %.2f s = %.2fx\n", w, u, w / u }'
done
