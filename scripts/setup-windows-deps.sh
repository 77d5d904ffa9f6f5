#!/usr/bin/env bash
# Builds the libraries the Windows programs need beyond the cross compiler: Qt 6 (Core, Gui,
# Widgets and the qwindows platform plugin), libxml2, zlib and libcurl over the Windows TLS
# stack (Schannel). Each comes from Debian's own source package, of the version this machine's
# Debian ships for the host (the host's -dev package names it), so the Windows programs are
# built from the same sources as the Linux ones. The result lands in a cache folder named by the
# versions; when that folder is complete nothing is done. Prints the folder on its last line.
#   --fetch-only          installs the host packages and downloads the sources, nothing more
#                         (what needs the package manager, done before a build in the background)
#   $1                    x86_64 (default) or i686
#   VELQOR_WINDEPS_CACHE  where the folders live (default ~/.cache/velqor)
#   VELQOR_WINDEPS_JOBS   parallel build jobs (default: the number of processors)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
fetch_only=""
if [ "${1:-}" = --fetch-only ]; then
  fetch_only=1
  shift
fi
arch="${1:-x86_64}"
case "$arch" in
  x86_64) bits=64 ;;
  i686) bits=32 ;;
  *) echo "setup-windows-deps: unknown processor $arch (x86_64 or i686)" >&2; exit 2 ;;
esac
triple="$arch-w64-mingw32"
jobs="${VELQOR_WINDEPS_JOBS:-$(nproc)}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# The host side: Qt's own tools (moc, rcc, uic) come from the host Qt of the same version, and
# the host -dev packages name the versions to build.
host_packages=(qt6-base-dev qt6-base-dev-tools libxml2-dev libcurl4-openssl-dev zlib1g-dev
  libcpp-httplib-dev
  dpkg-dev cmake ninja-build "g++-mingw-w64-${arch//_/-}")
missing=()
for p in "${host_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

source_version() { dpkg-query -W -f='${source:Version}' "$1"; }
qt_version=$(source_version qt6-base-dev)
xml2_version=$(source_version libxml2-dev)
curl_version=$(source_version libcurl4-openssl-dev)
zlib_version=$(source_version zlib1g-dev)
httplib_version=$(source_version libcpp-httplib-dev)
key="win$bits-qt${qt_version}-xml2-${xml2_version}-curl-${curl_version}-zlib-${zlib_version}"
key+="-httplib-${httplib_version}"
key="${key//[:~+]/_}"
cache="${VELQOR_WINDEPS_CACHE:-$HOME/.cache/velqor}"
prefix="$cache/$key"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

# Source packages need deb-src entries; Debian's images often come without them.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package:'; then
  echo "setup-windows-deps: adding Debian's source archives" >&2
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/velqor-deb-src.sources >/dev/null
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      $SUDO tee /etc/apt/sources.list.d/velqor-deb-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
fi

sources="$cache/sources"
mkdir -p "$sources"
# download PACKAGE VERSION VARIABLE: the source of that version into the downloads (kept, so a
# second run does not fetch again); where the archive no longer holds it (a point release's
# source can vanish from the mirror), the newest version it does hold, named, and VARIABLE says
# which.
download() {
  local version
  for version in "$2" $(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -Vru); do
    if (cd "$sources" && apt-get source --download-only -qq "$1=$version" >/dev/null \
      2>>"$sources/download.log"); then
      [ "$version" = "$2" ] ||
        echo "setup-windows-deps: $1 $2 is not in the source archive; building $version" >&2
      printf -v "$3" '%s' "$version"
      return
    fi
  done
  cat "$sources/download.log" >&2
  exit 1
}
download qt6-base "$qt_version" qt_version
download libxml2 "$xml2_version" xml2_version
download curl "$curl_version" curl_version
download zlib "$zlib_version" zlib_version
download cpp-httplib "$httplib_version" httplib_version
[ -n "$fetch_only" ] && exit 0

work="$cache/work-$key"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
echo "setup-windows-deps: building into $prefix" >&2
cd "$work"
for package in qt6-base:$qt_version libxml2:$xml2_version curl:$curl_version \
  zlib:$zlib_version cpp-httplib:$httplib_version; do
  name=${package%%:*}
  version=${package#*:}
  # apt checked the downloads against the archive's signed index; dpkg-source's own warnings
  # (no keyring for the uploaders' signatures) go to the log.
  dpkg-source -x "$sources/${name}_${version#*:}.dsc" "$work/$name" >/dev/null \
    2>>"$work/source.log"
done

# One toolchain for every library and for the programs built against them, kept with the
# libraries (Qt's installed toolchain file loads it by this path). Unlike the test build's
# toolchain it links the compiler's runtime as DLLs: Qt's DLLs and the programs that load them
# must share one C++ runtime.
toolchain="$prefix/mingw-toolchain.cmake"
cat >"$toolchain" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $arch)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/$triple "$prefix")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
cmake_lib() {  # cmake_lib SOURCE_DIR OPTIONS...: configures, builds and installs one library
  local src="$1"
  shift
  cmake -S "$src" -B "$src/build-win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$src.log" 2>&1 &&
    cmake --build "$src/build-win" -j"$jobs" >>"$src.log" 2>&1 &&
    cmake --install "$src/build-win" >>"$src.log" 2>&1 ||
    { tail -40 "$src.log" >&2; echo "setup-windows-deps: $src failed (log: $src.log)" >&2; exit 1; }
}

# zlib: for curl's compressed replies. Debian's source leaves out the version resource zlib's
# build compiles into its DLL; a bare one takes its place.
if [ ! -f zlib/win32/zlib1.rc ]; then
  mkdir -p zlib/win32
  printf '1 VERSIONINFO\nFILEVERSION 1,2,13,0\nBEGIN\nEND\n' >zlib/win32/zlib1.rc
fi
cmake_lib zlib
# libxml2: the parser alone. Its own encodings cover UTF-8, UTF-16 and Latin-1, which is what
# XML-DA peers send; no iconv, no network fetching of its own, no compression.
cmake_lib libxml2 -DBUILD_SHARED_LIBS=ON -DLIBXML2_WITH_ICONV=OFF \
  -DLIBXML2_WITH_LZMA=OFF -DLIBXML2_WITH_ZLIB=OFF -DLIBXML2_WITH_PYTHON=OFF \
  -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_FTP=OFF -DLIBXML2_WITH_TESTS=OFF \
  -DLIBXML2_WITH_PROGRAMS=OFF -DLIBXML2_WITH_MODULES=OFF
# libcurl: HTTP and HTTPS only, TLS and its certificate checks by Windows itself (Schannel, the
# system's certificate store), so no certificate bundle ships with the programs.
cmake_lib curl -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
  -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
  -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DCURL_ZLIB=ON -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
  -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none

# cpp-httplib for the simulation service: the library as its authors ship it, one header (Debian
# builds it as a shared library with a header of declarations only).
install -D -m 644 cpp-httplib/httplib.h "$prefix/include/httplib.h"

# Qt: what the window needs and nothing more.
#   -qt-host-path            moc, rcc and uic of the host Qt (same version) run during the build
#   -shared                  DLLs, shipped beside the programs
#   -no-opengl, -no-vulkan   widgets paint with the raster engine; no GPU stack to ship
#   -no-dbus, -no-icu        neither exists on Windows in a form the window needs
#   -no-feature-network, -no-feature-xml, -no-feature-sql, -no-feature-concurrent,
#   -no-feature-testlib, -no-feature-printsupport
#                            the toolkit does HTTP with libcurl and XML with libxml2; the rest is
#                            unused
#   -no-feature-tabletevent  Debian's source drops the tablet (wintab) headers the plugin needs
#   -no-feature-direct2d, -no-feature-directwrite3
#                            Qt 6.4 links DirectWrite into the plugin without building it; the
#                            GDI font engine stays
#   -qt-zlib, -qt-pcre, -qt-harfbuzz, -qt-libpng, -no-freetype
#                            Qt's bundled copies inside its DLLs; fonts through GDI
qt_src="$work/qt6-base"
qt_build="$work/qt-build"
mkdir -p "$qt_build"
(cd "$qt_build" && "$qt_src/configure" -prefix "$prefix" -xplatform win32-g++ \
  -qt-host-path /usr -release -shared -nomake tests -nomake examples -no-opengl -no-dbus \
  -no-icu -no-pkg-config -no-feature-sql -no-feature-network -no-feature-testlib \
  -no-feature-printsupport -no-feature-concurrent -no-feature-xml -no-feature-vulkan \
  -no-feature-tabletevent -no-feature-direct2d -no-feature-directwrite3 -qt-zlib -qt-pcre \
  -qt-harfbuzz -qt-libpng -no-freetype -- -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
  >"$work/qt-configure.log" 2>&1) ||
  { tail -40 "$work/qt-configure.log" >&2; echo "setup-windows-deps: Qt configure failed" >&2; exit 1; }
cmake --build "$qt_build" -j"$jobs" >"$work/qt-build.log" 2>&1 ||
  { grep -m5 -B2 -A10 'error' "$work/qt-build.log" >&2; echo "setup-windows-deps: Qt build failed" >&2; exit 1; }
cmake --install "$qt_build" >"$work/qt-install.log" 2>&1

# Where each library came from, for whoever ships the programs.
printf 'qt6-base %s\nlibxml2 %s\ncurl %s\nzlib %s\ncpp-httplib %s\n' "$qt_version" \
  "$xml2_version" "$curl_version" "$zlib_version" "$httplib_version" >"$prefix/debian-sources.txt"
cd "$root"
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
