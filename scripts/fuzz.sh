#!/usr/bin/env bash
# Builds every fuzz target (clang, libFuzzer, AddressSanitizer with
# LeakSanitizer, UndefinedBehaviorSanitizer; natively on x86-64) and runs each
# in turn, then prints a table:
#
#   scripts/fuzz.sh [--i386] [--runs N] [--max-len BYTES] [SECONDS-PER-TARGET] [TARGET...]
#   scripts/fuzz.sh [--i386] --merge [TARGET...]
#
# Defaults: 60 seconds, every target. --runs N runs each target until it has
# done N executions instead (the seconds, if given, still bound it). --i386
# --max-len bounds an input (default 65536; libFuzzer cuts longer corpus
# files to it): the text targets spend most of a long input's time on
# nothing new. --i386 builds the 32-bit layouts instead (build/fuzz-i386), under qemu's emulation
# where the kernel runs no 32-bit code (see below).
#
# Each target keeps its corpus in build/fuzz/corpus/TARGET and starts from
# seeds made here from the project's own writers and from files of this
# machine (build/fuzz/seeds/TARGET) and from the regression corpus in
# fuzz/regression/TARGET. Inputs that crash, leak, hang (5 s) or run out of
# memory (512 MB; a larger single allocation counts too) land in
# build/fuzz/artifacts/TARGET; fix the cause, then copy the input into
# fuzz/regression/TARGET, which the host tests replay. build/fuzz/totals.tsv
# adds up the executions of every run. Leaks are those of memory the sanitizer
# hands out, the heap's segments among them; a block lost inside a segment the
# heap still holds is not one.
# The exit status is 1 when a run found anything (a smoke run of a few
# thousand executions is a step of scripts/check.sh).
# --merge copies into fuzz/regression the newest 30 inputs of 2 KiB or less
# of each corpus (a corpus holds only inputs that reached something new).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
usage="usage: scripts/fuzz.sh [--i386] [--runs N] [--max-len BYTES] [SECONDS-PER-TARGET] [TARGET...] | [--i386] --merge [TARGET...]"
merge=false i386=false max_runs=0 max_len=65536
while [ $# -gt 0 ]; do
  case $1 in
    --merge) merge=true ;;
    --i386) i386=true ;;
    --runs) max_runs=${2:-}; shift ;;
    --runs=*) max_runs=${1#--runs=} ;;
    --max-len) max_len=${2:-}; shift ;;
    --max-len=*) max_len=${1#--max-len=} ;;
    -h | --help) echo "$usage"; exit 0 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done
# With --runs and no seconds the count alone bounds a run.
seconds=60
[ "$max_runs" = 0 ] || seconds=0
case ${1:-} in [0-9]*) seconds=$1; shift ;; esac
$merge && seconds=0
case $seconds:$max_runs:$max_len in :* | *: | *::* | *[!0-9:]*)
  echo "$usage" >&2
  exit 2
  ;;
esac

all=()
for f in fuzz/*_fuzz.cpp; do
  n=${f##*/}
  all+=("${n%_fuzz.cpp}")
done
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for t in "${targets[@]}"; do
  [ -f "fuzz/${t}_fuzz.cpp" ] || { echo "fuzz: no target $t (have: ${all[*]})" >&2; exit 2; }
done

# The native road needs only the compiler and its runtimes; the 32-bit one
# everything the i386 host build needs.
fuzz_packages=(cmake ninja-build clang libclang-rt-14-dev)
if $i386; then
  bash scripts/setup.sh || exit 1
fi
for p in "${fuzz_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    SUDO=
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    echo "fuzz: installing ${fuzz_packages[*]}"
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${fuzz_packages[@]}" || exit 1
    break
  fi
done

# The 32-bit road: under qemu's user-mode emulation LeakSanitizer cannot stop
# the threads it must inspect and hangs, and libFuzzer's memory watch thread
# together with its time-out alarm now and then deadlocks the emulated
# process. There leaks are not looked for, and the memory limit is one on each
# allocation (the heap's segments included). Allocations of several megabytes can also land where
# the emulated sanitizer keeps no shadow, which ends a run with "CHECK failed:
# ... AddrIsInMem": that is the emulation, not the code under test, and the
# run is started again for the time left. Do not stop a running fuzzer (for
# a quiet benchmark, say): its time-out alarm counts the pause.
ASAN_OPTIONS=${ASAN_OPTIONS:-}
memory_limit=(-rss_limit_mb=512)
emulated=false
build=$root/build/fuzz toolchain=$root/cmake/toolchain-fuzz-x86_64.cmake
if $i386; then
  build=$root/build/fuzz-i386 toolchain=$root/cmake/toolchain-fuzz-i386.cmake
fi
if $i386 && [ "$(bash scripts/i386-exec.sh)" = emulated ]; then
  emulated=true
  echo "fuzz: 32-bit code runs emulated here: no leak detection, 512 MB per allocation instead of in all"
  ASAN_OPTIONS=detect_leaks=0:max_allocation_size_mb=512${ASAN_OPTIONS:+:$ASAN_OPTIONS}
  memory_limit=(-rss_limit_mb=0)
fi
export ASAN_OPTIONS UBSAN_OPTIONS=print_stacktrace=1

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$root
fi
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }

ninja -C "$build" $(printf '%s_fuzz ' "${targets[@]}") >"$build.build.log" 2>&1 ||
  { tail -40 "$build.build.log"; exit 1; }

# ---- seeds ------------------------------------------------------------------
seeds=$build/seeds
fidelity=${HVB_FIDELITY_DIR:-$root/../shared/fidelity}
wine_images=/usr/lib/i386-linux-gnu/wine/i386-windows
# A file with one byte in front: the target reads its options from it.
prefixed() { { printf "$(printf '\\%03o' "$1")"; head -c 65536 "$2"; } >"$3"; }
make_seeds() {
  rm -rf "$seeds" && mkdir -p "$seeds"
  for t in "${all[@]}"; do mkdir -p "$seeds/$t"; done
  local tree=$seeds/.tree
  mkdir -p "$tree/D/E"
  head -c 3000 /usr/share/common-licenses/GPL-3 >"$tree/a.txt"
  head -c 1500 "$wine_images/kernel32.dll" >"$tree/D/b.bin" 2>/dev/null || head -c 1500 /bin/sh >"$tree/D/b.bin"
  printf 'short\r\n' >"$tree/D/E/c.txt"
  : >"$tree/D/E/empty"
  local e i=0
  for e in raw tolma_code bshf_crypt tolma_crypt; do
    "$build/tools/tolma/tolma" create "$seeds/.$e.tlm" "$tree" --encoding "$e" --password pw >/dev/null
    prefixed 1 "$seeds/.$e.tlm" "$seeds/archive/$e"
    cp "$seeds/.$e.tlm" "$seeds/container/$e.tlm"
    "$build/tools/tolma/tolma" list --xml "$seeds/.$e.tlm" >"$seeds/listing/$e.xml" 2>/dev/null
  done
  for f in "$fidelity"/archive.*.tlm; do
    [ -f "$f" ] && prefixed 1 "$f" "$seeds/archive/fidelity.${f##*/}" && cp "$f" "$seeds/container/"
  done
  # Coded streams: the decoder's choice byte, then the output size (two bytes).
  stream_seed() {
    local choice=$1 stream=$2 length=$3
    { printf "$(printf '\\%03o\\%03o\\%03o' "$choice" $(((length - 1) >> 8 & 255)) $(((length - 1) & 255)))"
      cat "$stream"; } >"$seeds/decoder/${stream##*/}.$choice"
  }
  if [ -d "$fidelity" ]; then
    for s in text.ct1 text.ct2 text.ct3; do stream_seed 0 "$fidelity/$s" 10929; done
    stream_seed 128 "$fidelity/mixed.ct1" 5492
    stream_seed 6 "$fidelity/text.pw.bshf" 10929
    stream_seed 7 "$fidelity/mixed.long.bshf" 5492
  fi
  # Real PE images and the icons they hold.
  for f in $(ls -S -r "$wine_images"/*.exe "$wine_images"/*.dll 2>/dev/null | head -400); do
    [ "$(stat -c %s "$f")" -le 65536 ] || continue
    i=$((i + 1))
    [ $i -le 40 ] && cp "$f" "$seeds/pe_reader/" && cp "$f" "$seeds/pe_writer/"
  done
  for f in "$wine_images"/shell32.dll "$wine_images"/user32.dll "$wine_images"/comctl32.dll; do
    [ -f "$f" ] && command -v wrestool >/dev/null &&
      wrestool -x -t14 -o "$seeds/icon/" "$f" 2>/dev/null
  done
  find "$seeds/icon" -size +64k -delete
  ls "$seeds/icon" | tail -n +41 | sed "s|^|$seeds/icon/|" | xargs -r rm -f
  # XML and text from this machine.
  for f in $(find /usr/share -name '*.xml' -size -8k 2>/dev/null | head -40); do
    prefixed $((i++ % 8)) "$f" "$seeds/xml/$(basename "$f").$i"
  done
  printf '<keys joystick_count="1"><key device="keyboard" key="ascii:Z" assign="code:13" flags="joy_mouse stick_key"/></keys>' \
    >"$seeds/.keys.xml"
  prefixed 0 "$seeds/.keys.xml" "$seeds/key_description/keys.xml"
  for f in "$fidelity/text.txt" /usr/share/common-licenses/GPL-3 /etc/services; do
    [ -f "$f" ] || continue
    prefixed 0 "$f" "$seeds/codepage/${f##*/}"
    head -c 4096 "$f" | base64 -w 76 >"$seeds/escapes/${f##*/}.b64"
    head -c 4096 "$f" | iconv -f UTF-8 -t UTF-16LE 2>/dev/null >"$seeds/tag_text/${f##*/}.u16"
  done
  printf '%s' '<Title>a</Title><Track>3</Track><HotSpot>12,-4</HotSpot><Date>2001/12/24</Date>' |
    iconv -t UTF-16LE >"$seeds/tag_text/tags.u16"
}
# The archive tool writes the archive seeds; it is built only for them.
if [ ! -d "$seeds/archive" ]; then
  ninja -C "$build" tolma >>"$build.build.log" 2>&1 || { tail -40 "$build.build.log"; exit 1; }
  make_seeds
fi

if $merge; then
  # Every input in a corpus was kept by the fuzzer because it reached
  # something new; the newest small ones reached the deepest. (libFuzzer's
  # own -merge exits without merging under qemu.)
  for t in "${targets[@]}"; do
    mkdir -p "fuzz/regression/$t" "$build/corpus/$t"
    before=$(ls "fuzz/regression/$t" | wc -l)
    find "$build/corpus/$t" -type f -size -2049c -printf '%T@ %p\n' | sort -rn | head -30 | cut -d' ' -f2- |
      xargs -r cp -t "fuzz/regression/$t"
    after=$(ls "fuzz/regression/$t" | wc -l)
    printf '%-16s %4d inputs kept, %d new\n' "$t" "$after" $((after - before))
  done
  exit 0
fi

# ---- runs -------------------------------------------------------------------
totals=$build/totals.tsv
[ -f "$totals" ] || : >"$totals"
# Artifacts of every run so far, by the kind libFuzzer names them with: what
# is there was found and is not yet dealt with.
found() { find "$build/artifacts/$1" -type f -name "$2-*" | wc -l; }
row='%-16s %12s %8s %14s %8s %6s %9s %5s\n'
printf "$row" target executions exec/s cov/ft crashes leaks timeouts OOMs
status=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t artifacts=$build/artifacts/$t
  mkdir -p "$corpus" "$artifacts" "fuzz/regression/$t"
  known=$(find "$artifacts" -type f | wc -l)
  log=$build/logs/$t.log
  mkdir -p "${log%/*}"
  : >"$log"
  left=$seconds runs=0 began=$SECONDS
  while :; do
    started=$SECONDS
    limits=()
    [ "$seconds" -eq 0 ] || limits+=(-max_total_time="$left")
    [ "$max_runs" -eq 0 ] || limits+=(-runs=$((max_runs - runs)))
    "$build/fuzz/${t}_fuzz" "${limits[@]}" "${memory_limit[@]}" -timeout=5 \
      -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$corpus" "$seeds/$t" "fuzz/regression/$t" >"$log.part" 2>&1
    cat "$log.part" >>"$log"
    part=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log.part" | grep -o '[0-9]*$' | tail -1)
    runs=$((runs + ${part:-0}))
    left=$((left - (SECONDS - started)))
    again=false
    # Now and then libFuzzer's own scheduler divides by zero while it picks
    # the next input to mutate: a fault of the engine with no input of ours on
    # the stack. Its "crash" input is dropped and the run goes on.
    if grep -q 'ERROR: AddressSanitizer: FPE' "$log.part" && grep -q 'fuzzer::Fuzzer::MutateAndTestOne' "$log.part" &&
      ! grep -q 'LLVMFuzzerTestOneInput' "$log.part"; then
      echo "fuzz: $t: libFuzzer's scheduler faulted; going on" >&2
      sed -n 's/.*Test unit written to //p' "$log.part" | xargs -r rm -f
      again=true
    fi
    # Under emulation the sanitizer may keep no shadow where a large mapping
    # lands (see above): the input goes to build/fuzz-i386/emulated/TARGET for
    # a native replay, and the run goes on.
    if [ "$emulated" = true ] && grep -q 'CHECK failed: asan_poisoning.cpp.*AddrIsInMem' "$log.part"; then
      echo "fuzz: $t: the sanitizer has no shadow for a mapping under emulation; input kept in $build/emulated/$t" >&2
      mkdir -p "$build/emulated/$t"
      sed -n 's/.*Test unit written to //p' "$log.part" | xargs -r mv -t "$build/emulated/$t"
      again=true
    fi
    $again || break
    { [ "$seconds" -eq 0 ] || [ "$left" -gt 5 ]; } && { [ "$max_runs" -eq 0 ] || [ "$runs" -lt "$max_runs" ]; } || break
  done
  rm -f "$log.part"
  elapsed=$((SECONDS - began))
  speed=$((runs / (elapsed > 0 ? elapsed : 1)))
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 | sed 's/cov: \([0-9]*\) ft: \([0-9]*\)/\1\/\2/')
  printf '%s\t%s\n' "$t" "$runs" >>"$totals"
  printf "$row" "$t" "$runs" "$speed" "${cov:-?}" "$(found "$t" crash)" "$(found "$t" leak)" \
    "$(found "$t" timeout)" "$(found "$t" oom)"
  [ "$(find "$artifacts" -type f | wc -l)" -eq "$known" ] || status=1
done
echo
echo "executions over every run so far ($totals):"
awk -F'\t' '{ n[$1] += $2 } END { for (t in n) printf "  %-16s %12d\n", t, n[t] }' "$totals" | sort
[ $status -eq 0 ] || echo "fuzz: this run found something: build/fuzz*/artifacts" >&2
exit $status
