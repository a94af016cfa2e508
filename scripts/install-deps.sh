#!/usr/bin/env bash
# Installs the Debian 12 packages one or more purposes need:
#   install-deps.sh [build] [test] [sanitize] [windows] [deb] [bench]     (default: build)
# build: building and running the program (make build, run, install); test: the test tools and
# what the tests run (GoogleTest, Xvfb, the validators, mingw-w64, NSIS, Wine); sanitize: clang
# and its sanitizer runtimes; windows: the Windows program and its installer; deb: the Debian
# package; bench: the benchmarks. Only missing packages are installed; sudo is used when not root.
set -euo pipefail

# build: what building and running the program need.
packages=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev libgl-dev
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev libavfilter-dev
  ffmpeg libjpeg-turbo-progs

  fonts-dejavu-core fonts-dejavu-extra fonts-liberation
)

windows_packages=(
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  nsis
)

deb_packages=(
  dpkg-dev
)

test_packages=(
  libgtest-dev libgmock-dev
  valgrind
  xvfb xauth xdotool x11-utils
  desktop-file-utils appstream
  "${windows_packages[@]}" "${deb_packages[@]}"
  # The Win32 conformance run: Wine, and the 64-bit build for machines that run no 32-bit code.
  wine wine64 fonts-wine
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
)
# 32-bit Wine runs the 32-bit program; it needs the i386 architecture. A machine or mirror that
# cannot offer it gets a warning, and the 32-bit run skips.
test_i386_packages=(
  wine32:i386
)

sanitize_packages=(
  clang libclang-rt-14-dev
)

bench_packages=(
  libbenchmark-dev
)

wanted=()
want_i386=false
[ $# -gt 0 ] || set -- build
for purpose in "$@"; do
  case $purpose in
    build) wanted+=("${packages[@]}") ;;
    test) wanted+=("${packages[@]}" "${test_packages[@]}"); want_i386=true ;;
    sanitize) wanted+=("${packages[@]}" "${sanitize_packages[@]}") ;;
    windows) wanted+=("${windows_packages[@]}" cmake ninja-build) ;;
    deb) wanted+=("${packages[@]}" "${deb_packages[@]}") ;;
    bench) wanted+=("${packages[@]}" "${bench_packages[@]}") ;;
    *) echo "install-deps.sh: unknown purpose '$purpose' (build, test, sanitize, windows, deb, bench)" >&2; exit 2 ;;
  esac
done

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${wanted[@]}" | sort -u)
missing_i386=()
$want_i386 && mapfile -t missing_i386 < <(missing_of "${test_i386_packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_i386[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing_i386[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# An index that fails to download (a mirror in the middle of a sync) leaves the others usable.
$sudo apt-get update -qq || echo "install-deps.sh: apt-get update reported errors; going on with the indexes it has" >&2
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ ${#missing_i386[@]} -gt 0 ]; then
  echo "Installing: ${missing_i386[*]}"
  $sudo apt-get install -y -qq --no-install-recommends "${missing_i386[@]}" ||
    echo "install-deps.sh: could not install ${missing_i386[*]}; the 32-bit Wine run will be skipped" >&2
fi
