#!/usr/bin/env bash
# test.sh [build-dir] [extra cmake args...]: set up, build and run the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
dir=${1:-build}; shift || true
scripts/build.sh "$dir" "$@"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
