#!/usr/bin/env bash
# One end-to-end scenario of the repair tool under Wine and Xvfb:
#   repair.sh SCENARIO REPAIR_EXE MAKE_DISC_EXE WORK_DIR TOLMA_EXE
set -u
scenario=$1
export REPAIR_EXE=$2 MAKE_DISC_EXE=$3 E2E_ROOT=$4 TOLMA_EXE=$5
here=$(cd "$(dirname "$0")" && pwd)
export SOURCE_ROOT=$(cd "$here/../.." && pwd)
. "$here/e2e_lib.sh"
. "$here/repair_lib.sh"
E2E_OUT=$E2E_ROOT/$scenario$REPAIR_SUFFIX
rm -rf "$E2E_OUT"
mkdir -p "$E2E_ROOT"
e2e_display
e2e_window_manager
# The desktop scenario rewrites the prefix's shell folders: it gets its own.
if [ "$scenario" = long_desktop ]; then repair_env prefix-long-desktop; else repair_env; fi
# One prefix for every scenario of a locale; scenarios run one at a time.
repair_wine wineboot -i >/dev/null 2>&1
# HVB_E2E_WINDOWS: the version of Windows that Wine reports (winxp, win7, ...).
if [ -n "${HVB_E2E_WINDOWS:-}" ]; then
  repair_wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$HVB_E2E_WINDOWS" /f >/dev/null 2>&1 ||
    e2e_fail "cannot make Wine report $HVB_E2E_WINDOWS"
  reported=$(repair_wine cmd /c ver 2>/dev/null | tr -d '\r' | grep .)
  echo "$scenario: Wine reports $reported"
  [ "$HVB_E2E_WINDOWS" != winxp ] || [[ $reported == *" 5.1."* ]] || e2e_fail "Wine does not report Windows XP"
fi

omitted='SCRIPT\1_2_5.scn'
damaged='SCRIPT\1_3_1.scn'
case $scenario in
  missing_entry) repair_disc omit --omit "$omitted" ;;
  damaged_entry) repair_disc corrupt --corrupt "$damaged" ;;
  *) repair_disc standard ;;
esac
repair_map_d "$REPAIR_DISC"
repair_install
before=$(cd "$REPAIR_INSTALL" && find . -type f -exec md5sum {} + | sort)


case $scenario in
  complete)
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG5"
    # The progress dialog is known by its title and not answered as a box.
    [ "$(cat "$E2E_OUT/captions")" = $'修正セットアップ\n修復セットアップ' ] \
      || e2e_fail "captions: $(tr '\n' '|' <"$E2E_OUT/captions")"
    # The script restored from data.dat differs from the archive's copy.
    diffs=$(repair_differences | grep -v -x -F './SCRIPT/1_5_22.scn')
    [ -z "$diffs" ] || e2e_fail "files still differ: $diffs"
    [ "$(stat -c %s "$REPAIR_INSTALL/CG/cg_pack.dat")" -gt 10240000 ] || e2e_fail "no file crosses the chunk size"
    [ -f "$REPAIR_INSTALL/config.dat" ] && [ ! -s "$REPAIR_INSTALL/config.dat" ] || e2e_fail "the empty file"
    cmp -s "$REPAIR_DISC/data.dat" "$REPAIR_INSTALL/SCRIPT/1_5_22.scn" || e2e_fail "script not restored from data.dat"
    # The folder as the system's code page holds it, its separators doubled.
    esc=${REPAIR_INSTALL_WIN//\\/\\\\}
    long=$(printf 'L%.0s' $(seq 1100))
    printf '[Setup]\r\nDir=%s\r\nProgram=%s\\pro.exe\r\n\r\nBoth=%s;%s\\SCRIPT\r\nPartial=@INSTDI\r\nLong=%s%s\r\n[End]\r\n' \
      "$esc" "$esc" "$esc" "$esc" "$long" "$esc" | iconv -f UTF-8 -t "CP${REPAIR_CODEPAGE#windows-}" \
      >"$E2E_OUT/setup.log.expected"
    cmp "$E2E_OUT/setup.log.expected" "$REPAIR_INSTALL/setup.log" || e2e_fail "setup.log differs from the template"
    desktop=$(find "$WINEPREFIX/drive_c/users" "$HOME" -name Desktop -type d 2>/dev/null | head -n 1)
    installed=${REPAIR_INSTALL_REL//\//.}
    for pair in 'ぽるてぃ体験版.lnk:pro.exe' 'ぽるてぃキャラクター紹介.lnk:chara.exe' 'ぽるてぃぷりむオリジナル.lnk:org.exe'; do
      link=${pair%%:*} program=${pair##*:}
      found=$(ls "$WINEPREFIX"/drive_c/users/*/Desktop/"$link" 2>/dev/null | head -n 1)
      [ -n "$found" ] || e2e_fail "no shortcut $link (desktop: $desktop)"
      lnkinfo -c $REPAIR_CODEPAGE "$found" >"$E2E_OUT/$program.lnkinfo" 2>&1 || e2e_fail "lnkinfo cannot read $link"
      grep -q "Local path.*C:.$installed.$program" "$E2E_OUT/$program.lnkinfo" || { cat "$E2E_OUT/$program.lnkinfo"; e2e_fail "$link target"; }
      grep -q "Working directory.*C:.$installed.$" "$E2E_OUT/$program.lnkinfo" || { cat "$E2E_OUT/$program.lnkinfo"; e2e_fail "$link working directory"; }
    done
    ;;
  keys_during_copy)
    # Escape and Enter reaching the dialog between files neither stop the
    # copy nor start it a second time.
    repair_run Return 'Escape Return'
    [ "$(cat "$E2E_OUT/progress_keys")" -gt 0 ] || e2e_fail "no key reached the progress dialog"
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG5"
    diffs=$(repair_differences | grep -v -x -F './SCRIPT/1_5_22.scn')
    [ -z "$diffs" ] || e2e_fail "files still differ: $diffs"
    ;;
  cancel)
    repair_run Escape
    repair_expect_texts "$REPAIR_MSG1"
    [ "$(cd "$REPAIR_INSTALL" && find . -type f -exec md5sum {} + | sort)" = "$before" ] || e2e_fail "files changed"
    ;;
  no_setup)
    repair_map_d "$E2E_ROOT/empty-disc"
    mkdir -p "$E2E_ROOT/empty-disc" && cp "$REPAIR_EXE" "$E2E_ROOT/empty-disc/repair.exe"
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG2"
    ;;
  no_key)
    repair_wine reg delete "$REPAIR_UNINSTALL_KEY" /f >/dev/null 2>&1
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG3"
    ;;
  no_log)
    rm -f "$REPAIR_INSTALL/setup.log"
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG3"
    ;;
  long_location)
    long='C:\Games\'$(printf 'x%.0s' $(seq 119))  # 9 + 119 = 128 characters
    repair_wine reg add "$REPAIR_UNINSTALL_KEY" /v InstallLocation /t REG_SZ /d "$long" /f >/dev/null 2>&1
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG3"
    ;;
  unheld_location)
    # A location the system's code page cannot hold reads as another path:
    # not found, even where that other path is an installation. First the
    # Japanese folder, then one whose full-width letters read as the real
    # installation's ASCII name.
    jp_rel='Games/ぽるてぃ体験版' wide_rel='Ｇａｍｅ'
    for rel in "$jp_rel" "$wide_rel"; do
      ! printf '%s' "$rel" | iconv -f UTF-8 -t "CP${REPAIR_CODEPAGE#windows-}" >/dev/null 2>&1 \
        || e2e_fail "code page ${REPAIR_CODEPAGE} holds $rel: run this scenario where it does not"
    done
    mkdir -p "$WINEPREFIX/drive_c/$jp_rel" && cp -r "$REPAIR_INSTALL/." "$WINEPREFIX/drive_c/$jp_rel/"
    jp_before=$(cd "$WINEPREFIX/drive_c/$jp_rel" && find . -type f -exec md5sum {} + | sort)
    for rel in "$jp_rel" "$wide_rel"; do
      repair_wine reg add "$REPAIR_UNINSTALL_KEY" /v InstallLocation /t REG_SZ /d "C:\\${rel//\//\\}" /f >/dev/null 2>&1
      repair_run
      repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG3"
      [ "$(cd "$REPAIR_INSTALL" && find . -type f -exec md5sum {} + | sort)" = "$before" ] || e2e_fail "$rel: files changed"
      [ "$(cd "$WINEPREFIX/drive_c/$jp_rel" && find . -type f -exec md5sum {} + | sort)" = "$jp_before" ] \
        || e2e_fail "$rel: the Japanese folder changed"
    done
    rm -rf "$WINEPREFIX/drive_c/Games"
    ;;
  long_desktop)
    # The registered desktop is too long to read (128 bytes or more), so the
    # tool asks the shell, which reports a folder of 240 bytes. With its
    # separator the first link name (18 bytes) ends at 259 bytes and fits the
    # 260-byte buffer with its terminator; the other two (28 bytes) do not
    # and are skipped.
    d=$(printf 'd%.0s' $(seq 100)) e=$(printf 'e%.0s' $(seq 100)) f=$(printf 'f%.0s' $(seq 35))
    desktop_win="C:\\$d\\$e\\$f"
    [ ${#desktop_win} -eq 240 ] || e2e_fail "desktop path is ${#desktop_win} bytes"
    long_desktop=$WINEPREFIX/drive_c/$d/$e/$f
    rm -rf "$WINEPREFIX/drive_c/$d" && mkdir -p "$long_desktop"
    folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer'
    repair_wine reg add "$folders\User Shell Folders" /v Desktop /t REG_EXPAND_SZ /d "$desktop_win" /f >/dev/null 2>&1 \
      || e2e_fail "cannot set the user's desktop folder"
    repair_wine reg add "$folders\Shell Folders" /v Desktop /t REG_SZ /d "C:\\$(printf 'x%.0s' $(seq 140))" /f \
      >/dev/null 2>&1 || e2e_fail "cannot set the registered desktop"
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG5"
    found=$(cd "$long_desktop" && ls -- *.lnk 2>/dev/null)
    [ "$found" = 'ぽるてぃ体験版.lnk' ] || e2e_fail "shortcuts on the long desktop: ${found:-none}"
    lnkinfo -c $REPAIR_CODEPAGE "$long_desktop/ぽるてぃ体験版.lnk" >"$E2E_OUT/pro.exe.lnkinfo" 2>&1 || e2e_fail "lnkinfo"
    grep -q "Local path.*C:.${REPAIR_INSTALL_REL//\//.}.pro.exe" "$E2E_OUT/pro.exe.lnkinfo" \
      || { cat "$E2E_OUT/pro.exe.lnkinfo"; e2e_fail "shortcut target"; }
    [ -z "$(find -L "$WINEPREFIX/drive_c/users" "$HOME" -name '*.lnk' 2>/dev/null)" ] || e2e_fail "a shortcut was made elsewhere"
    ;;
  empty_table)
    # Nothing to restore: the dialog ends at once with success and the
    # fix-ups run; no listed file is touched.
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG5"
    grep -q "old log" "$REPAIR_INSTALL/setup.log" && e2e_fail "setup.log was not rebuilt"
    skip='\./setup\.log|\./SCRIPT/1_5_22\.scn'
    [ "$(cd "$REPAIR_INSTALL" && find . -type f -exec md5sum {} + | sort | grep -v -E "  ($skip)\$")" = \
      "$(echo "$before" | grep -v -E "  ($skip)\$")" ] || e2e_fail "listed files changed"
    ;;
  no_dialog)
    # A dialog that cannot be created copied nothing: message 4, no fix-ups.
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG4"
    [ "$(cd "$REPAIR_INSTALL" && find . -type f -exec md5sum {} + | sort)" = "$before" ] || e2e_fail "files changed"
    ;;
  missing_entry|damaged_entry)
    [ $scenario = missing_entry ] && name=$omitted || name=$damaged
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_NOT_FOUND" "$REPAIR_MSG4"
    grep -q -x -F "$name" "$E2E_OUT/captions" || e2e_fail "the not-found box is not captioned $name"
    # Files before it in the table are restored, files after it untouched.
    after=0
    while IFS= read -r listed; do
      f=./${listed//\\//}
      if [ "$listed" = "$name" ]; then after=1; continue; fi
      if [ $after = 0 ]; then
        cmp -s "$REPAIR_PAYLOAD/$f" "$REPAIR_INSTALL/$f" || e2e_fail "$f before the failure was not restored"
      else
        now=$(cd "$REPAIR_INSTALL" && { [ -f "$f" ] && md5sum "$f" || true; })
        was=$(echo "$before" | grep -F "  $f" || true)
        [ "$now" = "$was" ] || e2e_fail "$f after the failure was touched"
      fi
    done <"$REPAIR_PAYLOAD/../table.txt"
    [ $after = 1 ] || e2e_fail "$name is not in the table"
    grep -q "old log" "$REPAIR_INSTALL/setup.log" || e2e_fail "fix-ups ran after a failed repair"
    ;;
  unwritable)
    rm -f "$REPAIR_INSTALL/readme.txt" && mkdir "$REPAIR_INSTALL/readme.txt"
    repair_run
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_WRITE_FAILED" "$REPAIR_MSG4"
    grep -q -x "fname" "$E2E_OUT/captions" || e2e_fail "the write failure is not captioned fname"
    ;;
  no_data)
    rm -f "$REPAIR_DISC/data.dat"
    repair_run
    cp "$E2E_ROOT/discs/standard/made/data.dat" "$REPAIR_DISC/data.dat"
    repair_expect_texts "$REPAIR_MSG1" "$REPAIR_MSG5"
    [ -z "$(find -L "$WINEPREFIX/drive_c/users" "$HOME" -name '*.lnk' 2>/dev/null)" ] || e2e_fail "shortcuts made without data.dat"
    grep -q "old log" "$REPAIR_INSTALL/setup.log" && e2e_fail "setup.log was not rebuilt"
    ;;
  *) e2e_fail "unknown scenario $scenario" ;;
esac
echo "$scenario: 1 passed, 0 failed"
