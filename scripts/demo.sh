#!/usr/bin/env bash
# The demo: builds the repair tool, makes a demo disc (a real setup\setup.exe
# whose IDR_ARCHIVE resource holds an archive of generated payload for every
# listed file), damages a demo installation registered in a private Wine
# prefix (with a private HOME: nothing touches your own desktop), maps the
# disc to drive D: and runs repair.exe on it (at HVB_DEMO_DPI dots per inch,
# 96 unless set). On your display when there is
# one (answer the boxes yourself), otherwise on a private Xvfb display with
# the boxes answered automatically. Everything lands in demo-out/.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh || exit 1

echo "== build"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null || exit 1
ninja -C build/win32 repair make_disc tolma || exit 1

export SOURCE_ROOT=$root E2E_ROOT=$root/demo-out
export REPAIR_EXE=$root/build/win32/app/repair.exe MAKE_DISC_EXE=$root/build/win32/tests/e2e/make_disc.exe
export TOLMA_EXE=$root/build/win32/tools/tolma/tolma.exe
. tests/e2e/e2e_lib.sh
. tests/e2e/repair_lib.sh
E2E_OUT=$E2E_ROOT/run
rm -rf "$E2E_OUT"
mkdir -p "$E2E_ROOT"

interactive=0
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 && [ "${CI:-}" != true ]; then interactive=1; fi
e2e_display
[ $interactive = 1 ] || e2e_window_manager
repair_env

echo "== demo disc and damaged installation (first run: Wine prepares its prefix)"
repair_wine wineboot -i >/dev/null 2>&1
# HVB_DEMO_DPI=144 (say) shows the boxes and the dialog as at 150 % scaling.
dpi=${HVB_DEMO_DPI:-96}
repair_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
echo "display:      $dpi DPI"
repair_disc standard
repair_map_d "$REPAIR_DISC"
repair_install
missing_before=$(repair_differences | wc -l)
echo "disc:         $REPAIR_DISC (drive D:)"
echo "installation: $REPAIR_INSTALL ($REPAIR_INSTALL_WIN)"
echo "files missing or damaged before the repair: $missing_before of $(find "$REPAIR_PAYLOAD" -type f | wc -l)"

echo "== repair"
if [ $interactive = 1 ]; then
  echo "repair.exe is on your display: answer its boxes."
  mkdir -p "$E2E_OUT"
  WINEDEBUG=+msgbox repair_wine 'D:\repair.exe' >"$E2E_OUT/stdout" 2>"$E2E_OUT/trace"
  python3 tests/e2e/msgbox_texts.py "$E2E_OUT/trace" >"$E2E_OUT/texts"
else
  repair_run
fi

echo "== result"
echo "message boxes shown:"
sed 's/^/  /' "$E2E_OUT/texts"
remaining=$(repair_differences | grep -v -x -F './SCRIPT/1_5_22.scn')
echo "files restored: $((missing_before - $(echo -n "$remaining" | grep -c .))) of $missing_before"
[ -z "$remaining" ] || { echo "still different:"; echo "$remaining" | sed 's/^/  /'; }
echo "setup.log:"
iconv -f CP932 -t UTF-8 "$REPAIR_INSTALL/setup.log" | cut -c 1-100 | sed 's/^/  /'
cmp -s "$REPAIR_DISC/data.dat" "$REPAIR_INSTALL/SCRIPT/1_5_22.scn" && echo "script\\1_5_22.scn restored from data.dat"
echo "shortcuts:"
for link in "$WINEPREFIX"/drive_c/users/*/Desktop/*.lnk; do
  [ -e "$link" ] || continue
  echo "  $(basename "$link") -> $(lnkinfo -c windows-932 "$link" 2>/dev/null | sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p' | head -n 1)"
done
echo "screenshots: $(ls "$E2E_OUT"/*.png 2>/dev/null | tr '\n' ' ')"
[ -z "$remaining" ]
