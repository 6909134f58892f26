#!/usr/bin/env bash
# What the system takes from each program's manifest, read by Wine's loader:
#   manifest_read.sh PROBE.exe PREFIX REPAIR.exe TOLMA.exe KEYVIEW.exe
# The repair tool asks to be elevated (run level 3), the others run as the
# caller (1); all declare the five systems from Vista to 11; the two window
# programs are DPI aware, and the repair tool's dialogs use common controls 6.
set -u
probe=$1 prefix=$2
shift 2
run=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-run.sh
expected=("run_level=3 supported_os=5 dpi_aware=true comctl32_v6=1"
          "run_level=1 supported_os=5 dpi_aware=- comctl32_v6=0"
          "run_level=1 supported_os=5 dpi_aware=true comctl32_v6=0")
failed=0
for i in 0 1 2; do
  exe=$1
  shift
  seen=$("$run" --prefix "$prefix" "$probe" "Z:$(echo "$exe" | tr / '\\')" | tr -d '\r')
  if [ "$seen" = "${expected[$i]}" ]; then
    echo "$(basename "$exe"): $seen"
  else
    echo "FAIL: $(basename "$exe"): the system read '$seen', not '${expected[$i]}'" >&2
    failed=$((failed + 1))
  fi
done
echo "$((3 - failed)) passed, $failed failed"
[ $failed -eq 0 ]
