# Staging for repair-tool runs: a disc made by make_disc with a real
# setup\setup.exe holding the archive as its IDR_ARCHIVE resource, a damaged
# installation registered in a private Wine prefix with a private HOME, and a
# driver that runs repair.exe and answers its message boxes.
# Needs: E2E_ROOT (work folder), REPAIR_EXE, MAKE_DISC_EXE, TOLMA_EXE, SOURCE_ROOT.

REPAIR_UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ぽるてぃ体験版'

# The system's locale is the run's: HVB_WINE_LOCALE (wine-run.sh reads it
# too), Japanese by default. REPAIR_LOCALE_SUFFIX tells apart the prefixes and
# work folders of other locales, REPAIR_CODEPAGE names their ANSI code page
# (for lnkinfo). The installation is in the Japanese folder where that code
# page holds its name, else in an ASCII one: a path the system's code page
# cannot hold is not the tool's to find.
REPAIR_LOCALE=${HVB_WINE_LOCALE:-ja_JP.UTF-8}
case $REPAIR_LOCALE in
  ja_JP.*) REPAIR_LOCALE_SUFFIX= REPAIR_CODEPAGE=windows-932 ;;
  zh_CN.*) REPAIR_LOCALE_SUFFIX=-zh_CN REPAIR_CODEPAGE=windows-936 ;;
  *) REPAIR_LOCALE_SUFFIX=-${REPAIR_LOCALE%%.*} REPAIR_CODEPAGE=windows-1252 ;;
esac
if printf 'ぽるてぃ体験版' | iconv -f UTF-8 -t "CP${REPAIR_CODEPAGE#windows-}" >/dev/null 2>&1; then
  REPAIR_INSTALL_REL='Games/ぽるてぃ体験版'
else
  REPAIR_INSTALL_REL='Game'
fi
REPAIR_INSTALL_WIN="C:\\${REPAIR_INSTALL_REL//\//\\}"

# HVB_E2E_VARIANT names a variant of the machine (a processor model, a
# Windows version): it gets prefixes and work folders of its own too.
REPAIR_SUFFIX=$REPAIR_LOCALE_SUFFIX${HVB_E2E_VARIANT:+-$HVB_E2E_VARIANT}

repair_env() {  # [PREFIX_NAME]: a prefix of its own for a scenario that changes it; one per locale and variant
  export WINEPREFIX=$E2E_ROOT/${1:-prefix}$REPAIR_SUFFIX
  export HOME=$E2E_ROOT/home
  mkdir -p "$HOME"
  REPAIR_INSTALL=$WINEPREFIX/drive_c/$REPAIR_INSTALL_REL
}

repair_wine() {  # wine-run.sh with the private prefix
  HOME=$HOME "$SOURCE_ROOT/scripts/wine-run.sh" --prefix "$WINEPREFIX" "$@"
}

# A disc variant: VARIANT [make_disc options...]. Cached per variant.
repair_disc() {
  local variant=$1
  shift
  local dir=$E2E_ROOT/discs/$variant
  # Made whole or not at all: a run stopped half-way leaves no marker.
  if [ ! -f "$dir/made.stamp" ]; then
    rm -rf "$dir"
    mkdir -p "$dir/disc/setup"
    repair_wine "$MAKE_DISC_EXE" "$(winepath_of "$dir/made")" "$@" >"$dir/make_disc.log" 2>&1 \
      || { cat "$dir/make_disc.log"; e2e_fail "make_disc failed"; }
    # A bare setup program with a version resource, linked without base
    # relocations so that its resource section is the last; the archive tool
    # stores the archive in it.
    printf 'LANGUAGE 0, 0\n1 VERSIONINFO\nFILEVERSION 1,0,0,0\nBEGIN\nEND\n' >"$dir/made/setup.rc"
    printf 'int main(void) { return 0; }\n' >"$dir/made/setup.c"
    (cd "$dir/made" && i686-w64-mingw32-windres setup.rc -O coff -o setup_res.o &&
      i686-w64-mingw32-gcc -s -Wl,--disable-reloc-section -o setup_bare.exe setup.c setup_res.o) ||
      e2e_fail "building the bare setup.exe failed"
    repair_wine "$TOLMA_EXE" embed "$(winepath_of "$dir/made/setup_bare.exe")" "$(winepath_of "$dir/made/archive.tlm")" \
      -o "$(winepath_of "$dir/disc/setup/setup.exe")" >"$dir/embed.log" 2>&1 \
      || { cat "$dir/embed.log"; e2e_fail "tolma embed failed"; }
    cp "$dir/made/setup.lst" "$dir/made/data.dat" "$dir/disc/"
    touch "$dir/made.stamp"
  fi
  cp "$REPAIR_EXE" "$dir/disc/repair.exe"
  REPAIR_DISC=$dir/disc
  REPAIR_PAYLOAD=$dir/made/payload
}

winepath_of() { echo "Z:$(echo "$1" | tr / '\\')"; }

# Maps drive D: to a folder (or to nothing).
repair_map_d() {
  rm -f "$WINEPREFIX/dosdevices/d:" "$WINEPREFIX/dosdevices/d::"
  [ -n "${1:-}" ] && ln -s "$1" "$WINEPREFIX/dosdevices/d:"
}

# A damaged installation: most files present, every fourth missing, every
# ninth overwritten, the marker log present, and the uninstall key set.
repair_install() {
  rm -rf "$REPAIR_INSTALL"
  mkdir -p "$REPAIR_INSTALL"
  cp -r "$REPAIR_PAYLOAD/." "$REPAIR_INSTALL/"
  local i=0 f
  while IFS= read -r f; do
    i=$((i + 1))
    if [ $((i % 4)) -eq 0 ]; then rm -f "$f"; elif [ $((i % 9)) -eq 0 ]; then echo damaged >"$f"; fi
  done < <(find "$REPAIR_INSTALL" -type f | sort)
  echo "old log" >"$REPAIR_INSTALL/setup.log"
  rm -f "$HOME"/Desktop/*.lnk "$WINEPREFIX"/drive_c/users/*/Desktop/*.lnk 2>/dev/null
  repair_wine reg add "$REPAIR_UNINSTALL_KEY" /v InstallLocation /t REG_SZ /d "$REPAIR_INSTALL_WIN" /f >/dev/null 2>&1
}

# Runs repair.exe from drive D and answers every message box: the first with
# FIRST_KEY (Return or Escape), the others with Return. With PROGRESS_KEYS,
# sends those keys to the progress dialog at every look while it is up. Leaves the texts in $E2E_OUT/texts, the captions in
# $E2E_OUT/captions, the number of key rounds sent in $E2E_OUT/progress_keys
# and screenshots beside.
repair_run() {
  local first_key=${1:-Return} progress_keys=${2:-}
  mkdir -p "$E2E_OUT"
  : >"$E2E_OUT/captions"
  WINEDEBUG=+msgbox repair_wine 'D:\repair.exe' >"$E2E_OUT/stdout" 2>"$E2E_OUT/trace" &
  local pid=$! n=0 key=$first_key seen_progress=0 id name started=$SECONDS rounds=0 held
  while kill -0 $pid 2>/dev/null; do
    if [ $((SECONDS - started)) -gt 300 ]; then
      e2e_screenshot "$E2E_OUT/timeout.png"
      kill $pid; wineserver -k 2>/dev/null
      e2e_fail "repair.exe did not finish within 300 s"
    fi
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
      name=$(xdotool getwindowname "$id" 2>/dev/null) || continue
      [ -n "$name" ] || continue
      if [ "$name" = "修復セットアップ中" ]; then
        # The first look may come before the dialog's first paint; the
        # second shows it at work.
        if [ $seen_progress = 0 ]; then
          e2e_screenshot "$E2E_OUT/progress-first.png"
          seen_progress=1
        else
          if [ $seen_progress = 1 ]; then
            e2e_screenshot "$E2E_OUT/progress.png"
            seen_progress=2
          fi
          if [ -n "$progress_keys" ]; then
            # shellcheck disable=SC2086  # several keys
            e2e_keys "$id" $progress_keys 2>/dev/null && rounds=$((rounds + 1))
          fi
        fi
        continue
      fi
      n=$((n + 1))
      echo "$name" >>"$E2E_OUT/captions"
      sleep 0.3
      e2e_screenshot "$E2E_OUT/box$n.png"
      e2e_keys "$id" "$key"
      if [ $n = 1 ] && [ -n "$progress_keys" ]; then
        repair_keys_to_progress "$progress_keys" && rounds=$((rounds + 1))
      fi
      key=Return
      for _ in $(seq 50); do xdotool getwindowname "$id" >/dev/null 2>&1 || break; sleep 0.1; done
    done
    sleep 0.2
  done
  wait $pid
  local status=$?
  echo $rounds >"$E2E_OUT/progress_keys"
  python3 "$SOURCE_ROOT/tests/e2e/msgbox_texts.py" "$E2E_OUT/trace" >"$E2E_OUT/texts"
  [ $status -eq 0 ] || e2e_fail "repair.exe exited with $status"
}

# Watches for the progress dialog without pausing and sends it the keys the
# moment it is there, with its program held still meanwhile: the copy may
# take well under a second. False when the dialog never came.
repair_keys_to_progress() {
  local id held
  for _ in $(seq 3000); do
    id=$(xdotool search --onlyvisible --name '^修復セットアップ中$' 2>/dev/null | head -n 1)
    [ -n "$id" ] && break
    kill -0 $pid 2>/dev/null || return 1
  done
  [ -n "$id" ] || return 1
  held=$(xdotool getwindowpid "$id" 2>/dev/null)
  [ -n "$held" ] && kill -STOP "$held"
  # shellcheck disable=SC2086  # several keys
  e2e_keys "$id" $1 2>/dev/null
  local sent=$?
  [ -n "$held" ] && kill -CONT "$held"
  return $sent
}

# The message boxes shown, in order, must be exactly these texts.
repair_expect_texts() {
  local expected
  expected=$(printf '%s\n' "$@")
  [ "$(cat "$E2E_OUT/texts")" = "$expected" ] || {
    echo "expected message boxes:"; echo "$expected"; echo "shown:"; cat "$E2E_OUT/texts"
    e2e_fail "message boxes differ"
  }
}

REPAIR_MSG1='足りないファイルをインストールします\n転送処理を優先するため、OSの動作が重くなるので注意してください'
REPAIR_MSG2='体験版SETUPプログラムが見つかりません\n体験版の入ったDVDを正しくセットしてください'
REPAIR_MSG3='インストール先が見つかりません\n体験版をインストールしてから再度起動してください'
REPAIR_MSG4='ファイルを全てコピーする事ができませんでした\nHDD容量等チェックしてください'
REPAIR_MSG5='足りないファイルをインストールしました'
REPAIR_NOT_FOUND='tolmaファイルからファイルがみつかりませんでした'
REPAIR_WRITE_FAILED='書きこみで失敗しました'

# Files of the table that differ between the installation and the payload.
repair_differences() {
  (cd "$REPAIR_PAYLOAD" && find . -type f | sort) | while IFS= read -r f; do
    cmp -s "$REPAIR_PAYLOAD/$f" "$REPAIR_INSTALL/$f" || echo "$f"
  done
}
