#!/usr/bin/env bash
# build.sh [build-dir] [extra cmake args...]: configure (once) and build.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}; shift || true
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"
