#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running, testing and benchmarking need.
# Only missing packages are installed; sudo is used when not root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev libgl-dev
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev libavfilter-dev
  ffmpeg libjpeg-turbo-progs
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev valgrind
  xvfb xauth xdotool x11-utils
  fonts-dejavu-core fonts-dejavu-extra fonts-liberation
  desktop-file-utils appstream
  g++-mingw-w64-i686 binutils-mingw-w64-i686
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
