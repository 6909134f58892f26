#!/usr/bin/env bash
# A release of the product: builds the win32 target optimised, without tests,
# and installs the stripped repair.exe and tolma.exe into one folder (default
# release/), then prints their sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-release}")
jobs=${HVB_JOBS:-$(nproc)}

mkdir -p build
cmake -S "$root" -B build/release -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DHVB_BUILD_TESTS=OFF >build/release.configure.log
ninja -C build/release -j "$jobs" repair tolma
mkdir -p "$out"
cmake --install build/release --prefix "$out" --strip
ls -l "$out"
