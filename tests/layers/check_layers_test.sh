#!/usr/bin/env bash
# scripts/check_layers.sh against small trees: each upward include, however
# it is spelt, is caught; includes that only look like ones are not.
# Usage: check_layers_test.sh SOURCE_DIR
set -uo pipefail
source_dir=${1:?source dir}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
count=0
# name, expect (bad|ok), file under lib/core, its text
check() {
  local name=$1 expect=$2 file=$3 text=$4 root=$work/tree out rc
  count=$((count + 1))
  rm -rf "$root"
  mkdir -p "$root/scripts" "$root/lib/platform" "$root/lib/core" "$root/lib/archive"
  cp "$source_dir/scripts/check_layers.sh" "$root/scripts/"
  printf 'platform\ncore\narchive\n' >"$root/lib/floors.txt"
  printf '#pragma once\n' >"$root/lib/platform/p.h"
  printf '#pragma once\n#include "core/c.h"\n' >"$root/lib/archive/x.h"
  printf '#pragma once\n' >"$root/lib/core/c.h"
  printf '%s\n' "$text" >"$root/lib/core/$file"
  out=$(bash "$root/scripts/check_layers.sh" 2>&1)
  rc=$?
  if [ "$expect" = bad ]; then
    if [ $rc -eq 0 ] || ! grep -q "lib/core/$file:.*archive/x.h" <<<"$out"; then
      echo "FAIL $name: not caught (status $rc)"; echo "$out"; failures=$((failures + 1))
    fi
  elif [ $rc -ne 0 ]; then
    echo "FAIL $name: false alarm"; echo "$out"; failures=$((failures + 1))
  fi
}

check "angle brackets" bad a.cpp '#include <archive/x.h>'
check "dot-dot" bad a.cpp '#include "core/../archive/x.h"'
check "comment before the name" bad a.cpp '#include /* why */ "archive/x.h"'
check "line continuation" bad a.cpp '#include \
"archive/x.h"'
check "macro include" bad a.cpp '#define HEADER "archive/x.h"
#include HEADER'
check ".hpp header" bad a.hpp '#include "archive/x.h"'
check "inside a block comment" ok a.cpp '/*
#include "archive/x.h"
*/'
check "inside #if 0" ok a.cpp '#if 0
#include "archive/x.h"
#endif'
check "inside a raw string" ok a.cpp 'const char* text = R"(
#include "archive/x.h"
)";'
check "downward and standard includes" ok a.cpp '#include <string>
#include "platform/p.h"'
[ $failures -eq 0 ] && echo "check_layers: $count cases pass"
[ $failures -eq 0 ]
