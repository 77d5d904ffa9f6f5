#!/usr/bin/env bash
# Makes the Windows installer and portable zip on Linux: the libraries from Debian's sources
# (scripts/setup-windows-deps.sh, built once and cached), then the programs with mingw-w64, then
# CPack: BUILD_DIR/tagscope-<version>-win64-setup.exe and tagscope-<version>-win64-portable.zip.
#   $1  the build tree (default build-winapp)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${1:-build-winapp}"
bash scripts/setup-wine.sh >/dev/null # the cross compiler (and Wine, whose system DLLs CPack reads)
deps=$(bash scripts/setup-windows-deps.sh | tail -1)
command -v makensis >/dev/null || {
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get install -y -qq --no-install-recommends nsis zip unzip >/dev/null
}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DVELQOR_WINDOWS_DEPS="$deps" -DCMAKE_BUILD_TYPE=Release -DVELQOR_BUILD_TESTS=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target tagscope tagscope-cli xmlda-sim comda-sim \
  comda-sim-inproc velqor_opcproxy
(cd "$build" && cpack -G "NSIS;ZIP" >/dev/null)
ls "$build"/tagscope-*-setup.exe "$build"/tagscope-*-portable.zip
