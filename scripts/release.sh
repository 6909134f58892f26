#!/usr/bin/env bash
# A release of the product: builds the win32 target optimised, without tests,
# puts the stripped repair.exe and tolma.exe and a read-me for the disc's
# maker (with the tool's file table) into one folder (default release/ in the
# repository; a folder given is taken from the caller's directory), zips
# the folder, and prints each file's size and SHA-256.
set -euo pipefail
# A folder given is the caller's, relative to where they stand; the default
# lies in the repository.
out=${1:+$(realpath -m "$1")}
cd "$(dirname "$0")/.."
root=$PWD
out=${out:-$root/release}
jobs=${HVB_JOBS:-$(nproc)}

bash scripts/setup.sh >/dev/null
version=$(sed -n 's/^project(hvb VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=hvb-$version

mkdir -p build
cmake -S "$root" -B build/release -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DHVB_BUILD_TESTS=OFF >build/release.configure.log
ninja -C build/release -j "$jobs" repair tolma
# What XP and a processor without SSE run, checked before the symbols go.
python3 scripts/check_winxp.py build/release/app/repair.exe build/release/tools/tolma/tolma.exe >&2
rm -rf "$out/$name" "$out/$name.zip"
mkdir -p "$out/$name"
cmake --install build/release --prefix "$out/$name" --strip >/dev/null
# Plain text for Windows: CR LF line ends.
{ cat app/release-readme.txt; sed 's/^/  /' app/file_table.txt; } | sed 's/$/\r/' >"$out/$name/README.txt"
(cd "$out" && rm -f "$name.zip" && zip -q -X -r "$name.zip" "$name")

printf '%10s  %-64s  %s\n' bytes sha256 file
for f in "$out/$name"/* "$out/$name.zip"; do
  printf '%10d  %s  %s\n' "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)" "${f#"$out"/}"
done
