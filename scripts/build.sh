#!/usr/bin/env bash
# Configures and builds one flavour: scripts/build.sh release|asan
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
case "$flavour" in
  release) flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORPH_SANITIZE=ON) ;;
  *) echo "usage: $0 release|asan" >&2; exit 2 ;;
esac
cmake -S . -B "build/$flavour" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$flavour" -j"$(nproc)"
