#!/usr/bin/env bash
# Installs the Windows cross tools and Wine, and creates a private headless Wine prefix.
# Prints the prefix path on its last line. Exits 2 (with a message) where Wine cannot be had,
# so that callers can skip the Windows stage cleanly. The 32-bit side (the i686 cross compiler
# and wine32, which runs 32-bit programs in the 64-bit prefix) is installed where it can be; where
# it cannot, only the 32-bit checks are skipped.
#   WINEPREFIX  where the prefix lives (default: build-wine/prefix under the source tree)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
packages=(g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 libwine-dev fonts-wine)
packages32=(g++-mingw-w64-i686 wine32:i386)
missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing32 < <(missing_of "${packages32[@]}")
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
apt_install() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
if [ ${#missing[@]} -gt 0 ] || [ ${#missing32[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]} ${missing32[*]}" >&2
  added_i386=""
  if [ ${#missing32[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386 && added_i386=1
  fi
  updated=""
  $SUDO apt-get update -qq && updated=1
  # Package lists that cannot be had for i386 must not cost the 64-bit side.
  if [ -z "$updated" ] && [ -n "$added_i386" ]; then
    $SUDO dpkg --remove-architecture i386 || true
    missing32=()
    $SUDO apt-get update -qq && updated=1
  fi
  if ! { [ -n "$updated" ] && { [ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"; }; }; then
    echo "setup-wine: cannot install ${missing[*]}; the Windows stage is skipped" >&2
    exit 2
  fi
  if [ ${#missing32[@]} -gt 0 ] && ! apt_install "${missing32[@]}"; then
    echo "setup-wine: cannot install ${missing32[*]}; the 32-bit checks are skipped" >&2
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
elif [ -x /usr/lib/wine/wine ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/regsvr32.exe" ]; then
  # A prefix made before wine32 was installed gets its 32-bit side.
  timeout 300 wineboot -u >/dev/null 2>&1 || true
  timeout 60 wineserver -w || true
fi
echo "$WINEPREFIX"
