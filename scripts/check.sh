#!/usr/bin/env bash
# The one command: installs what is missing, builds the three trees and runs
# every test, then prints each step's time and one summary line:
#   layers       every include under lib/ keeps to the floors of lib/floors.txt
#   native-asan  the host natively on x86-64 under AddressSanitizer,
#                UndefinedBehaviorSanitizer and LeakSanitizer (the main host run)
#   host-asan    the host on i386, the 32-bit layouts, under the sanitizers
#                (natively or under qemu where the kernel runs no 32-bit code)
#   fuzz         every fuzz target on its seeds and regression inputs and a
#                few thousand more, natively under the sanitizers with
#                libFuzzer (what only its build sees: the heap's segments
#                from the sanitizer's allocator, leaks inside them)
#   winxp        the shipped programs import only what XP exports, use SSE
#                only where the processor flags choose it, and carry a
#                manifest XP's loader reads (also a win32 test)
#   win32        the product, under Wine
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${HVB_JOBS:-$(nproc)}

t0=$SECONDS
step_start=$SECONDS
step_times=()
timed() {  # name: closes the step that began at step_start
  local took=$((SECONDS - step_start))
  step_times+=("$1 ${took}s")
  echo "-- $1: ${took}s"
  step_start=$SECONDS
}

failed_steps=()
passed=0
failed=0
echo "== setup"
bash scripts/setup.sh || { echo "check: setup failed"; exit 1; }
i386=$(bash scripts/i386-exec.sh) || { echo "check: 32-bit programs cannot run here"; exit 1; }
timed setup

# After setup: the compilers are what the check asks. (Every tree's ctest
# runs it again as the test "layers".)
echo "== layers"
if bash scripts/check_layers.sh; then
  passed=$((passed + 1))
else
  failed_steps+=("layers"); failed=$((failed + 1))
fi
timed layers
i386_asan_options=${ASAN_OPTIONS:-}
if [ "$i386" = emulated ]; then
  # LeakSanitizer cannot run under qemu's user-mode emulation (it hangs):
  # leaks are looked for in the native run.
  i386_asan_options=${i386_asan_options:+$i386_asan_options:}detect_leaks=0
  echo "check: 32-bit programs run under qemu here; i386 host tests without leak detection"
fi

# Rebuilds on the same machine reuse objects, wherever the clone lies.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$root
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

configure_and_build() {  # name toolchain extra-cmake-args...
  local name=$1 toolchain=$2
  shift 2
  echo "== build $name"
  cmake -S "$root" -B "build/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" "${launcher[@]}" "$@" >"build/$name.configure.log" 2>&1 \
    || { cat "build/$name.configure.log"; return 1; }
  ninja -C "build/$name" -j "$jobs"
  local rc=$?
  timed "build $name"
  return $rc
}

run_tests() {  # name [VAR=value...]: the environment of the run
  local name=$1 log="build/$1.ctest.log"
  shift
  echo "== test $name"
  (cd "build/$name" && env "$@" ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log"
  timed "test $name"
  local total fail
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -n 1)
  fail=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  if [ -z "$total" ]; then
    failed=$((failed + 1))
    failed_steps+=("test $name")
    return
  fi
  passed=$((passed + total - fail))
  failed=$((failed + fail))
  [ "$fail" -eq 0 ] || failed_steps+=("test $name")
}

mkdir -p build
if configure_and_build native-asan toolchain-host-x86_64.cmake -DHVB_SANITIZE=ON; then
  run_tests native-asan ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1"
else
  failed_steps+=("build native-asan"); failed=$((failed + 1))
fi
echo "== fuzz"
if bash scripts/fuzz.sh --runs 3000; then
  passed=$((passed + 1))
else
  failed_steps+=("fuzz"); failed=$((failed + 1))
fi
timed fuzz
if configure_and_build host-asan toolchain-host-i386.cmake -DHVB_SANITIZE=ON; then
  run_tests host-asan ASAN_OPTIONS="$i386_asan_options"
else
  failed_steps+=("build host-asan"); failed=$((failed + 1))
fi
if configure_and_build win32 toolchain-mingw-i686.cmake; then
  echo "== winxp"
  if python3 scripts/check_winxp.py build/win32/app/repair.exe build/win32/tools/tolma/tolma.exe \
       build/win32/tools/keyview/keyview.exe; then
    passed=$((passed + 1))
  else
    failed_steps+=("winxp"); failed=$((failed + 1))
  fi
  timed winxp
  run_tests win32
  # The private displays and wineservers the prefixes kept.
  for d in $(find build/win32 -name .hvb-display 2>/dev/null); do bash scripts/wine-run.sh --stop-display "$(dirname "$d")"; done
else
  failed_steps+=("build win32"); failed=$((failed + 1))
fi

echo
[ ${#failed_steps[@]} -eq 0 ] || echo "check: failed steps: ${failed_steps[*]}"
echo "check: times: ${step_times[*]/%/,} total $((SECONDS - t0))s"
echo "check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
