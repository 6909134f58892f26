#!/usr/bin/env bash
# Holds every include under lib/ to the floors of lib/floors.txt: a folder of
# lib/ includes only headers of its own floor and the floors below it. Each
# include that reaches up, or names a folder that is on no floor, is printed
# as file:line; the exit status is 1 if there is one.
set -uo pipefail
cd "$(dirname "$0")/.."
grep -rnE --include='*.h' --include='*.cpp' --include='*.c' --include='*.inc' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' lib |
  awk -v table=lib/floors.txt '
    BEGIN {
      while ((getline name < table) > 0) if (name ~ /^[a-z]/) floor[name] = ++floors
    }
    {
      split($0, part, ":")
      file = part[1]; line = part[2]
      own = file; sub(/^lib\//, "", own); sub(/\/.*/, "", own)
      header = $0; sub(/^[^"]*"/, "", header); sub(/".*/, "", header)
      room = header; if (room !~ /\//) next
      sub(/\/.*/, "", room)
      if (!(own in floor)) { printf "%s:%s: %s is on no floor of %s\n", file, line, own, table; bad++; next }
      if (!(room in floor)) { printf "%s:%s: includes %s of %s, which is on no floor of %s\n", file, line, header, room, table; bad++; next }
      if (floor[room] > floor[own]) {
        printf "%s:%s: %s (floor %d) includes %s of %s (floor %d)\n", file, line, own, floor[own], header, room, floor[room]
        bad++
      }
    }
    END {
      if (bad) { printf "layers: %d include(s) reach above their floor\n", bad; exit 1 }
      printf "layers: every include under lib/ keeps to the %d floors of %s\n", floors, table
    }'
