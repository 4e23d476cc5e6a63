#!/usr/bin/env bash
# Installs what building and testing needs on a Debian machine. Safe to run again.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64 wine64 xvfb xauth imagemagick
  libtiff-dev libtiff-tools libpoppler-cpp-dev nlohmann-json3-dev libcli11-dev libssl-dev
  graphicsmagick ghostscript python3-pil img2pdf netpbm
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  # With the recommended packages: xvfb-run needs xauth, Wine its fonts.
  $sudo apt-get install -y "${missing[@]}"
fi
