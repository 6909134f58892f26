#!/usr/bin/env bash
# Context-tree coder benchmark on the plain host build: throughput and sizes
# against bzip2 -9, xz -6 and gzip -9 on the same corpus, then the decoder's
# instructions per byte under callgrind (on a smaller part of the corpus).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/host

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-host-i386.cmake" >/dev/null
ninja -C "$build" -j1 codec_bench >/dev/null

echo "== throughput"
"$build/bench/codec_bench" "$@"

echo "== decoder instructions per byte (callgrind)"
if [ "$(bash scripts/i386-exec.sh)" = emulated ]; then
  echo "skipped: 32-bit code runs emulated here, and valgrind does not run under the emulation"
  exit 0
fi
sample=(/usr/share/vim/vim90/doc/version7.txt /usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll)
bytes=0
for f in "${sample[@]}"; do bytes=$((bytes + $(stat -c %s "$f"))); done
out=$(mktemp /tmp/codec_bench.callgrind.XXXXXX)
valgrind --tool=callgrind --callgrind-out-file="$out" \
  --toggle-collect='TOLMADecodeContext::DecodeContextTreeBytes*' \
  "$build/bench/codec_bench" --decode-only "${sample[@]}" 2>/dev/null
instructions=$(callgrind_annotate "$out" 2>/dev/null | sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p' | tr -d ,)
rm -f "$out"
echo "decoded $bytes bytes: $instructions instructions, $(awk -v i="$instructions" -v b="$bytes" 'BEGIN { printf "%.1f", i / b }') per byte"
