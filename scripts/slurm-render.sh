#!/usr/bin/env bash
# One long morph as a Slurm job array: every array task renders its own range of frames into
# one PNG folder on a file system that all nodes share. The frames are bit for bit those of a
# single run of all N frames and keep their numbers in it, so the folder fills up with
# frame_000.png ... as if one machine had rendered it.
#
#   sbatch --array=0-$(((N + CHUNK - 1) / CHUNK - 1)) scripts/slurm-render.sh \
#       SOURCE TARGET LINES N CHUNK PNG_DIR [more morph-render options]
#
# Task i renders frames i*CHUNK to i*CHUNK + CHUNK - 1 (the last task stops at N - 1); a task
# past the end has nothing to do. Paths are taken from the folder sbatch was run in, and
# morph-render from the PATH unless MORPH_RENDER names it. A failed task can be run again on
# its own (sbatch --array=7 ...): it writes only its own frames.
#
#SBATCH --job-name=morph-render
#SBATCH --cpus-per-task=8
#SBATCH --output=morph-render-%A_%a.log
set -euo pipefail

if (($# < 6)); then
  echo "usage: sbatch --array=0-TASKS scripts/slurm-render.sh SOURCE TARGET LINES N CHUNK PNG_DIR [options]" >&2
  exit 2
fi
source=$1 target=$2 lines=$3 frames=$4 chunk=$5 png_dir=$6
shift 6
task=${SLURM_ARRAY_TASK_ID:?run this as a job array: sbatch --array=...}

first=$((task * chunk))
last=$((first + chunk - 1))
if ((first > frames - 1)); then
  exit 0
fi
if ((last > frames - 1)); then
  last=$((frames - 1))
fi

# Each task uses the cores Slurm gave it; morph-render's result never depends on the count.
threads=()
if [[ -n ${SLURM_CPUS_PER_TASK:-} ]]; then
  threads=(--threads "$SLURM_CPUS_PER_TASK")
fi

mkdir -p "$png_dir"
exec "${MORPH_RENDER:-morph-render}" --source "$source" --target "$target" --lines "$lines" \
  --frames "$frames" --frame-range "$first:$last" --png-dir "$png_dir" --quiet \
  "${threads[@]}" "$@"
