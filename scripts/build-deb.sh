#!/usr/bin/env bash
# build-deb.sh [build-dir] [output-dir]: builds the tree (scripts/build.sh) and makes the Debian
# packages tagscope_<version>_amd64.deb and libvelqor-dev_<version>_amd64.deb with CPack; their
# library dependencies come from dpkg-shlibdeps. Needs no root.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
out=$(realpath -m "${2:-out}")
scripts/build.sh "$dir"
mkdir -p "$out"
(cd "$dir" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/*.deb
