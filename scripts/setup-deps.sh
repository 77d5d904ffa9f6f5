#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: apt-get update
# runs only when something is missing, and nothing is printed when all is present.
set -euo pipefail
packages=(
  build-essential g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libxml2-dev libcurl4-openssl-dev libssl-dev zlib1g-dev libcpp-httplib-dev libcli11-dev
  nlohmann-json3-dev libmosquitto-dev mosquitto mosquitto-clients
  qt6-base-dev xvfb xauth
  clang clang-format libclang-rt-14-dev openssl curl python3 python3-zeep
  dpkg-dev man-db bash-completion desktop-file-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
