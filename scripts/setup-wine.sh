#!/usr/bin/env bash
# Installs the Windows cross tools and Wine, and creates a private headless Wine prefix.
# Prints the prefix path on its last line. Exits 2 (with a message) where Wine cannot be had,
# so that callers can skip the Windows stage cleanly.
#   WINEPREFIX  where the prefix lives (default: build-wine/prefix under the source tree)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
packages=(g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 libwine-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}" >&2
  if ! { $SUDO apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null; }; then
    echo "setup-wine: cannot install ${missing[*]}; the Windows stage is skipped" >&2
    exit 2
  fi
fi
for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-widl wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null; then
    echo "setup-wine: $tool is missing; the Windows stage is skipped" >&2
    exit 2
  fi
done

export WINEPREFIX="${WINEPREFIX:-$root/build-wine/prefix}"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # A first boot writes the registry and the system folders; no window, no Mono or Gecko prompt.
  if ! timeout 300 wineboot -i >/dev/null 2>&1; then
    echo "setup-wine: wineboot failed in $WINEPREFIX; the Windows stage is skipped" >&2
    exit 2
  fi
  timeout 60 wineserver -w || true
fi
echo "$WINEPREFIX"
