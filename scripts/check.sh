#!/usr/bin/env bash
# The one command: installs what is missing, builds both targets and runs every
# test (host natively under AddressSanitizer and UndefinedBehaviorSanitizer,
# win32 under Wine), then prints one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${HVB_JOBS:-$(nproc)}

bash scripts/setup.sh || { echo "check: setup failed"; exit 1; }
i386=$(bash scripts/i386-exec.sh) || { echo "check: 32-bit programs cannot run here"; exit 1; }
host_sanitizers=(-DHVB_SANITIZE_ADDRESS=ON)
if [ "$i386" = emulated ]; then
  # AddressSanitizer's fixed shadow layout collides with where qemu maps the
  # program's memory (and LeakSanitizer's ptrace is not emulated): emulated
  # host tests run under UndefinedBehaviorSanitizer alone.
  host_sanitizers=(-DHVB_SANITIZE_ADDRESS=OFF)
  echo "check: 32-bit programs run under qemu here; host tests without AddressSanitizer"
fi

# Rebuilds on the same machine reuse objects, wherever the clone lies.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$root
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

failed_steps=()
skipped_steps=()
configure_and_build() {  # name toolchain extra-cmake-args...
  local name=$1 toolchain=$2
  shift 2
  echo "== build $name"
  cmake -S "$root" -B "build/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" "${launcher[@]}" "$@" >"build/$name.configure.log" 2>&1 \
    || { cat "build/$name.configure.log"; return 1; }
  ninja -C "build/$name" -j "$jobs"
}

passed=0
failed=0
run_tests() {  # name
  local name=$1 log="build/$1.ctest.log"
  echo "== test $name"
  (cd "build/$name" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log"
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
if configure_and_build host-asan toolchain-host-i386.cmake -DHVB_SANITIZE=ON "${host_sanitizers[@]}"; then
  run_tests host-asan
else
  failed_steps+=("build host-asan"); failed=$((failed + 1))
fi
if configure_and_build win32 toolchain-mingw-i686.cmake; then
  if [ "$i386" = native ]; then
    run_tests win32
  else
    echo "== test win32: not run: this machine's kernel cannot run 32-bit code, and Wine does not come up under emulation"
    skipped_steps+=("test win32")
  fi
else
  failed_steps+=("build win32"); failed=$((failed + 1))
fi

echo
[ ${#failed_steps[@]} -eq 0 ] || echo "check: failed steps: ${failed_steps[*]}"
[ ${#skipped_steps[@]} -eq 0 ] || echo "check: skipped steps: ${skipped_steps[*]}"
echo "check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
