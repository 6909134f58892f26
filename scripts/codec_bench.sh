#!/usr/bin/env bash
# Context-tree coder benchmark: throughput and sizes against the system's
# bzip2 -9, xz -6 and gzip -9 on the same corpus in one run, then the
# decoder's and the encoder's instructions per byte under callgrind (on a
# smaller sample), counted only inside the coder's top function.
#
#   scripts/codec_bench.sh [--i386] [--profile] [codec_bench options and files]
#
# Native x86-64 by default (build/native-release). --i386 builds and runs the
# 32-bit host tree (build/host) instead; where 32-bit code runs emulated, the
# callgrind counts are skipped. --profile adds callgrind's busiest functions
# (callgrind_annotate) after each count.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

i386=0
profile=0
args=()
for arg in "$@"; do
  case $arg in
    --i386) i386=1 ;;
    --profile) profile=1 ;;
    *) args+=("$arg") ;;
  esac
done

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ "$i386" = 1 ]; then
  build=build/host
  toolchain=cmake/toolchain-host-i386.cmake
else
  build=build/native-release
  toolchain=cmake/toolchain-host-x86_64.cmake
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHVB_SANITIZE=OFF "${launcher[@]}" >/dev/null
ninja -C "$build" -j1 codec_bench >/dev/null
bench=$build/bench/codec_bench

echo "== throughput ($(uname -m)$([ "$i386" = 1 ] && echo ', 32-bit build'))"
"$bench" "${args[@]}"

echo "== instructions per byte (callgrind)"
if [ "$i386" = 1 ] && [ "$(bash scripts/i386-exec.sh)" = emulated ]; then
  echo "skipped: 32-bit code runs emulated here, and valgrind does not run under the emulation"
  exit 0
fi
if ! command -v valgrind >/dev/null; then
  echo "skipped: valgrind is not installed"
  exit 0
fi
# A text and a binary; whichever of them this system has.
sample=()
for f in /usr/share/vim/vim90/doc/version7.txt /usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll; do
  [ -r "$f" ] && sample+=("$f")
done
[ ${#sample[@]} -gt 0 ] || sample=(/usr/share/common-licenses/GPL-3 /bin/sh)
bytes=0
for f in "${sample[@]}"; do bytes=$((bytes + $(stat -L -c %s "$f"))); done

out=$(mktemp /tmp/codec_bench.callgrind.XXXXXX)
trap 'rm -f "$out"' EXIT
# count SIDE FUNCTION: instructions spent inside FUNCTION and what it calls
# while codec_bench --SIDE-only codes the sample once.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="$2" \
    "$bench" "--$1-only" "${sample[@]}" >/dev/null 2>&1
  local instructions
  instructions=$(callgrind_annotate --auto=no "$out" 2>/dev/null | sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p' | tr -d ,)
  printf '%-7s %12s instructions for %d bytes: %6.1f per byte\n' "$1" "$instructions" "$bytes" \
    "$(awk -v i="$instructions" -v b="$bytes" 'BEGIN { print i / b }')"
  if [ "$profile" = 1 ]; then
    callgrind_annotate --auto=no "$out" 2>/dev/null | awk '/file:function/ { on = 1; getline; next } on && !NF { exit } on && ++n <= 12'
  fi
}
echo "sample: ${sample[*]}"
count decode 'TOLMADecodeContext::DecodeContextTreeBytes*'
count encode 'TOLMAEncodeContext::EncodeContextTreeBytes*'
