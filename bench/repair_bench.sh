#!/usr/bin/env bash
# The repair tool restoring the demo disc against `tolma.exe extract` of the
# same archive (read from the disc's setup.exe) under the same Wine, in turns:
#   bench/repair_bench.sh [RUNS]        (default 5; builds what it needs)
# Each run is a whole process timed from start to exit, the wineserver kept
# running across runs so neither side pays its start. The repair's message
# boxes are answered the moment they appear (no screenshots, no window
# manager beyond a small one, as a desktop has: without one Wine waits a
# second or two for each closed box to be withdrawn), so its time holds two
# boxes shown and closed, the log and the three shortcuts beside the copy.
# Prints every pair, the medians and their ratio. Never run as a test.
set -u
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-5}
ninja -C build/win32 repair make_disc tolma >/dev/null || { echo "repair_bench: build/win32 does not build"; exit 1; }

export SOURCE_ROOT=$root E2E_ROOT=$root/build/win32/bench/repair
export REPAIR_EXE=$root/build/win32/app/repair.exe MAKE_DISC_EXE=$root/build/win32/tests/e2e/make_disc.exe
export TOLMA_EXE=$root/build/win32/tools/tolma/tolma.exe
. tests/e2e/e2e_lib.sh
. tests/e2e/repair_lib.sh
mkdir -p "$E2E_ROOT"
unset DISPLAY
e2e_display
e2e_window_manager
repair_env
repair_wine wineboot -i >/dev/null 2>&1
repair_disc standard
repair_map_d "$REPAIR_DISC"
wineserver -p
trap 'wineserver -k; kill ${E2E_WM_PID:-} ${E2E_XVFB_PID:-} 2>/dev/null' EXIT
extract_dir=$WINEPREFIX/drive_c/extract

now() { echo "${EPOCHREALTIME/./}"; }  # microseconds

# Prints two figures, microseconds: the whole process, and its work, from
# the confirmation box's answer to the final box's coming (the dialog, the
# copy, the log and the shortcuts).
time_repair() {
  repair_install
  local start pid id name answered=0 final=0 keyed=" " keyed_at
  start=$(now)
  repair_wine 'D:\repair.exe' >/dev/null 2>&1 &
  pid=$!
  while kill -0 $pid 2>/dev/null; do
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
      name=$(xdotool getwindowname "$id" 2>/dev/null)
      case $name in
        修正セットアップ) [ $answered != 0 ] || answered=$(now) ;;
        修復セットアップ) [ $final != 0 ] || final=$(now) ;;
        *) continue ;;
      esac
      # One key a box, again only when it was lost (a box still up a
      # second later): a second one would go to the next box.
      case $keyed in *" $id "*) [ $(($(now) - keyed_at)) -gt 1000000 ] || continue ;; esac
      e2e_keys "$id" Return 2>/dev/null && keyed+="$id " keyed_at=$(now)
    done
  done
  wait $pid
  [ $answered != 0 ] && [ $final != 0 ] || echo "repair_bench: a box of the repair was not seen" >&2
  echo "$(($(now) - start)) $((final - answered))"
}

time_extract() {
  rm -rf "$extract_dir"
  local start
  start=$(now)
  repair_wine "$TOLMA_EXE" extract 'D:\setup\setup.exe' 'C:\extract' >/dev/null 2>&1 || echo "repair_bench: tolma extract failed" >&2
  echo $(($(now) - start))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds() { awk -v us="$1" 'BEGIN { printf "%.3f", us / 1e6 }'; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
time_repair >/dev/null  # warm-up: page cache, fonts, the desktop
time_extract >/dev/null
whole_times=() work_times=() extract_times=()
printf '%-4s %14s %14s %12s %12s %12s\n' run 'repair whole s' 'repair work s' 'extract s' 'whole/extr' 'work/extr'
for i in $(seq "$runs"); do
  read -r whole work < <(time_repair)
  e=$(time_extract)
  whole_times+=("$whole") work_times+=("$work") extract_times+=("$e")
  printf '%-4s %14s %14s %12s %12s %12s\n' "$i" "$(seconds "$whole")" "$(seconds "$work")" "$(seconds "$e")" \
    "$(ratio "$whole" "$e")" "$(ratio "$work" "$e")"
done
mw=$(printf '%s\n' "${whole_times[@]}" | median)
mk=$(printf '%s\n' "${work_times[@]}" | median)
me=$(printf '%s\n' "${extract_times[@]}" | median)
echo "median: repair.exe $(seconds "$mw") s whole, $(seconds "$mk") s of work; tolma.exe extract $(seconds "$me") s;" \
  "ratio $(ratio "$mw" "$me")x whole, $(ratio "$mk" "$me")x work"
cmp -s "$REPAIR_PAYLOAD/CG/cg_pack.dat" "$extract_dir/CG/cg_pack.dat" || echo "repair_bench: the extracted copy differs from the payload" >&2
