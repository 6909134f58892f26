#!/usr/bin/env bash
# Holds every include under lib/ to the floors of lib/floors.txt: a folder of
# lib/ includes only headers of its own floor and the floors below it. The
# preprocessor says what each file includes (its -MM dependencies, whatever
# spelling, macro or line continuation named them, and nothing a comment, a
# disabled branch or a string holds), once for this host and once for Win32
# where a mingw compiler is present, so that both branches of a platform test
# are seen. Standard and system headers are left out (-nostdinc, and -MG lets
# the preprocessor go on without them). Each file that reaches a header above
# its floor, or touches a folder on no floor, is printed; the exit status is 1
# if there is one.
set -uo pipefail
cd "$(dirname "$0")/.."
table=lib/floors.txt

compilers=()
for c in "${CXX:-g++}" i686-w64-mingw32-g++-posix i686-w64-mingw32-g++; do
  command -v "$c" >/dev/null 2>&1 || continue
  case " ${compilers[*]-} " in *" $c "*) continue ;; esac
  [[ $c == i686-w64-mingw32-g++ && " ${compilers[*]-} " == *" i686-w64-mingw32-g++-posix "* ]] && continue
  compilers+=("$c")
done
[ ${#compilers[@]} -gt 0 ] || { echo "layers: no C++ compiler to ask"; exit 1; }

# One line per dependency: "file<TAB>dependency", both as written by -MM.
deps=$(mktemp)
trap 'rm -f "$deps"' EXIT
failed=0
while IFS= read -r -d '' file; do
  for c in "${compilers[@]}"; do
    out=$("$c" -std=c++20 -x c++ -nostdinc -MM -MG -MT x -I lib "$file" 2>&1) || {
      printf '%s: the preprocessor failed (%s):\n%s\n' "$file" "$c" "$out"
      failed=1
      continue
    }
    # Join continuation lines, drop the target, one dependency a line.
    printf '%s\n' "$out" | tr '\\\n' '  ' | sed 's/^x://' | tr -s ' ' '\n' | sed '/^$/d' |
      awk -v file="$file" '{ print file "\t" $0 }' >>"$deps"
  done
done < <(find lib -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.hh' -o -name '*.hxx' -o -name '*.inc' \
           -o -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.cxx' \) -print0 | sort -z)
[ $failed -eq 0 ] || exit 1

# Paths made plain (core/../archive/x.h is archive/x.h) and relative to lib/;
# a name the preprocessor could not find is a standard or system header.
sort -u "$deps" | while IFS=$'\t' read -r file dep; do [ -e "$dep" ] && printf '%s\t%s\n' "$file" "$dep"; done |
  awk -F '\t' '{
    n = split($2, piece, "/"); m = 0
    for (i = 1; i <= n; i++) {
      if (piece[i] == "." || piece[i] == "") continue
      if (piece[i] == ".." && m > 0 && kept[m] != "..") { m--; continue }
      kept[++m] = piece[i]
    }
    path = ""; for (i = 1; i <= m; i++) path = path (i > 1 ? "/" : "") kept[i]
    if (path ~ /^lib\//) { sub(/^lib\//, "", path); print $1 "\t" path }
  }' | sort -u | awk -F '\t' -v table="$table" '
  BEGIN {
    while ((getline name < table) > 0) if (name ~ /^[a-z]/) floor[name] = ++floors
  }
  {
    file = $1; header = $2
    own = file; sub(/^lib\//, "", own)
    if (own !~ /\//) { if (!(own in told)) printf "%s: lies in lib/ itself, on no floor of %s\n", file, table; told[own]; bad++; next }
    sub(/\/.*/, "", own)
    room = header
    if (room !~ /\//) { printf "%s: includes %s, which lies in lib/ itself, on no floor of %s\n", file, header, table; bad++; next }
    sub(/\/.*/, "", room)
    if (!(own in floor)) { if (!(own in told)) printf "%s: %s is on no floor of %s\n", file, own, table; told[own]; bad++; next }
    if (!(room in floor)) { printf "%s: includes %s of %s, which is on no floor of %s\n", file, header, room, table; bad++; next }
    if (floor[room] > floor[own]) {
      printf "%s: %s (floor %d) includes %s of %s (floor %d)\n", file, own, floor[own], header, room, floor[room]
      bad++
    }
  }
  END {
    if (bad) { printf "layers: %d include(s) reach above their floor\n", bad; exit 1 }
    printf "layers: every include under lib/ keeps to the %d floors of %s\n", floors, table
  }'
