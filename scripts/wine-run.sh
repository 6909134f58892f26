#!/usr/bin/env bash
# Runs a win32 program under Wine in the project's private prefix, with the
# ANSI code page 932. Used by CTest as the cross-compiling emulator and by the
# end-to-end scripts. HVB_WINE_LOCALE names another locale (en_US.UTF-8: code
# page 1252, zh_CN.UTF-8: 936) for the runs of a system whose code page is
# not the program's. The end-to-end tests give each locale prefixes of their
# own, so that runs in one leave the others' as they were.
#   wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
# Where no DISPLAY is set, the prefix gets a private Xvfb display of its own,
# started by the first run and kept (its number and process id in
# PREFIX/.hvb-display): every program of a prefix shares one desktop, which
# takes the display of the program that started it, so a display that comes
# and goes with one program, or a program without one, leaves the windows of
# every later program without a desktop.
#   wine-run.sh --stop-display PREFIX   ends the prefix's wineserver and display
#   wine-run.sh --display PREFIX        prints the prefix's private display,
#                                       starting it if need be: a script that
#                                       drives the prefix's windows uses it
set -u

if [ "${1:-}" = "--stop-display" ]; then
  WINEPREFIX=$(cd "$2" && pwd) wineserver -k 2>/dev/null
  read -r _ pid <"$2/.hvb-display" 2>/dev/null && kill "$pid" 2>/dev/null
  rm -f "$2/.hvb-display"
  exit 0
fi

prefix= print_display=0
if [ "${1:-}" = "--prefix" ]; then
  prefix=$2
  shift 2
elif [ "${1:-}" = "--display" ]; then
  prefix=$2 print_display=1
  unset DISPLAY
  shift 2
fi
[ -n "$prefix" ] || prefix=${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}
mkdir -p "$prefix"
export WINEPREFIX=$(cd "$prefix" && pwd)
export WINEARCH=win32
export LC_ALL=${HVB_WINE_LOCALE:-ja_JP.UTF-8}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

need_display=0
[ -n "${DISPLAY:-}" ] || need_display=1

# The prefix is created once; concurrent test runs wait for the first.
# wine-fonts.reg maps the Japanese faces programs ask for (the repair dialog's
# "ＭＳ Ｐゴシック") to the installed IPA Gothic fonts: otherwise Wine takes a
# face without kanji and cuts text off at the first character it cannot
# draw. It goes in once per prefix, and again when it changes, so prefixes
# made before it get it too.
fonts=$(cd "$(dirname "$0")" && pwd)/wine-fonts.reg
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  stamp=$WINEPREFIX/.hvb-fonts
  sum=$(md5sum <"$fonts")
  if [ "$(cat "$stamp" 2>/dev/null)" != "$sum" ]; then
    # regedit reads a file without a byte-order mark in the ANSI code page:
    # give it UTF-16 with one, and CR LF line ends.
    reg=$WINEPREFIX/hvb-fonts.reg
    { printf '\377\376'; sed 's/$/\r/' "$fonts" | iconv -f UTF-8 -t UTF-16LE; } >"$reg"
    if wine regedit /S "Z:$(echo "$reg" | tr / '\\')" >/dev/null 2>&1; then
      wineserver -w
      echo "$sum" >"$stamp"
    fi
  fi
  if [ "$need_display" = 1 ]; then
    read -r display _ <"$WINEPREFIX/.hvb-display" 2>/dev/null
    if [ -z "${display:-}" ] || ! xdpyinfo -display "$display" >/dev/null 2>&1; then
      display=
      for n in $(seq 150 250); do
        [ -e "/tmp/.X$n-lock" ] && continue
        setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset </dev/null >/dev/null 2>&1 9>&- &
        pid=$!
        for _ in $(seq 100); do
          xdpyinfo -display ":$n" >/dev/null 2>&1 && { display=":$n"; break; }
          kill -0 $pid 2>/dev/null || break
          sleep 0.1
        done
        [ -n "$display" ] && { echo "$display $pid" >"$WINEPREFIX/.hvb-display"; break; }
        kill $pid 2>/dev/null
      done
    fi
  fi
) 9>"$WINEPREFIX.lock"

if [ "$need_display" = 1 ]; then
  read -r DISPLAY _ <"$WINEPREFIX/.hvb-display" 2>/dev/null || { echo "wine-run: no X display could be started" >&2; exit 1; }
  export DISPLAY
fi
[ $print_display = 0 ] || { echo "$DISPLAY"; exit 0; }
exec wine "$@"
