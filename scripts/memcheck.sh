#!/usr/bin/env bash
# Every native test program under valgrind's memcheck, one at a time, on a
# native x86-64 tree built without sanitizers (they and memcheck exclude each
# other); then a table of pass or fail per program. Not run by CI or by
# check.sh: a full run takes tens of minutes on one core.
#
#   scripts/memcheck.sh [--no-build] [TEST-REGEX]
#
# Memcheck's allocator stands in for the library's operator new and delete
# (valgrind replaces them by name, even linked into the program), so every
# C++ block is checked for overruns, use after free and leaks. The two tests
# that read a block's library header to prove where it came from
# (GlobalHeap.NullHandleMeansTheGlobalHeap,
# ObjectBase.ObjectsComeFromTheLibraryHeap) cannot hold then and are left out.
# TEST-REGEX      runs only the ctest tests whose names match.
#
# Programs the tests start from the build tree (tolma, through /bin/sh) run
# under memcheck too; system tools (python, xmllint, iconv, ...) do not.
# Logs: build/native-memcheck/memcheck/PROGRAM.PID.log.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/native-memcheck
logs=$build/memcheck

build_tree=1
filter=
for arg in "$@"; do
  case $arg in
    --no-build) build_tree=0 ;;
    -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "memcheck: unknown option $arg" >&2; exit 2 ;;
    *) filter=$arg ;;
  esac
done

command -v valgrind >/dev/null || { echo "memcheck: valgrind is not installed (apt-get install valgrind)" >&2; exit 2; }

if [ "$build_tree" = 1 ]; then
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-host-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHVB_SANITIZE=OFF -DHVB_BUILD_TESTS=ON "${launcher[@]}" >/dev/null || exit 1
  nice -n 10 ninja -C "$build" -j1 >/dev/null || { echo "memcheck: the build failed (ninja -C $build)" >&2; exit 1; }
fi

# Nothing of the library is suppressed. The one entry is a test's own write
# to a page it protected, made on purpose to prove that the fault guard
# catches it; memcheck reports every such access whatever handles it.
supp=$(mktemp /tmp/memcheck.supp.XXXXXX)
trap 'rm -f "$supp"' EXIT
cat >"$supp" <<'EOF'
{
   fault_guard_test_deliberate_write
   Memcheck:Addr4
   fun:*FaultAndRecover*
}
EOF

options=(--tool=memcheck --error-exitcode=1 --leak-check=full --num-callers=40 --suppressions="$supp"
  --trace-children=yes "--trace-children-skip=/usr/*,/root/*,/opt/*,*python*")
export GTEST_FILTER=-GlobalHeap.NullHandleMeansTheGlobalHeap:ObjectBase.ObjectsComeFromTheLibraryHeap

rm -rf "$logs"
mkdir -p "$logs"

# ctest's own list: each test's command, working directory and environment.
plan=$(ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, shlex, sys
for test in json.load(sys.stdin)["tests"]:
    env, cwd = [], "."
    for p in test.get("properties", []):
        if p["name"] == "ENVIRONMENT": env = p["value"]
        if p["name"] == "WORKING_DIRECTORY": cwd = p["value"]
    print(" ".join(shlex.quote(x) for x in [test["name"], cwd, *env, "--", *test["command"]]))
') || { echo "memcheck: no test list from ctest in $build" >&2; exit 1; }

results=()
failures=0
run_test() {
  local name=$1 cwd=$2
  shift 2
  local env=()
  while [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  if [ -n "$filter" ] && ! [[ $name =~ $filter ]]; then return; fi
  if ! head -c 4 "$1" 2>/dev/null | grep -q ELF; then
    results+=("$(printf '%-22s %-6s %8s %8s  %s' "$name" skip - - "not a native program: ${1##*/}")")
    return
  fi
  local start=$SECONDS status
  (cd "$cwd" && env "${env[@]}" nice -n 10 valgrind "${options[@]}" --log-file="$root/$logs/$name.%p.log" "$@") \
    >"$logs/$name.out" 2>&1
  status=$?
  # Errors of every process the program started, leaks included.
  local errors=0 n
  for n in $(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$logs/$name".*.log); do errors=$((errors + n)); done
  local verdict=pass note=
  if [ "$errors" -gt 0 ]; then
    verdict=FAIL note="memcheck errors, see $logs/$name.*.log"
  elif [ "$status" -ne 0 ]; then
    verdict=FAIL note="exit status $status, see $logs/$name.out"
  fi
  [ "$verdict" = pass ] || failures=$((failures + 1))
  results+=("$(printf '%-22s %-6s %8s %7ss  %s' "$name" "$verdict" "$errors" $((SECONDS - start)) "$note")")
  echo "${results[-1]}"
}

echo "$(printf '%-22s %-6s %8s %8s' program result errors time)"
eval "$(sed 's/^/run_test /' <<<"$plan")"

echo
echo "== memcheck summary"
printf '%-22s %-6s %8s %8s  %s\n' program result errors time note
printf '%s\n' "${results[@]}"
echo "memcheck: $((${#results[@]} - failures)) passed or skipped, $failures failed"
[ "$failures" -eq 0 ]
