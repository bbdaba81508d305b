#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need (only those missing).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core fonts-dejavu-extra libpng-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  ffmpeg
  # the render-farm recipe of the README and its test: GNU parallel
  parallel
  # the video export: FFmpeg's libraries (encoders, muxers, filters, pixel conversion)
  libavformat-dev libavcodec-dev libswscale-dev libavfilter-dev libavutil-dev
  # the fuzz build (scripts/fuzz.sh): clang, its libFuzzer and sanitizer runtimes, and the
  # OpenMP runtime clang links the configure step against
  clang libclang-rt-14-dev libomp-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
