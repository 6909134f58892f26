#!/usr/bin/env bash
# Runs a win32 program under Wine in the project's private prefix, with the
# ANSI code page 932. Used by CTest as the cross-compiling emulator and by the
# end-to-end scripts.
#   wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
# HVB_NEEDS_DISPLAY=1 starts a private Xvfb when no DISPLAY is set.
set -u

prefix=
if [ "${1:-}" = "--prefix" ]; then
  prefix=$2
  shift 2
fi
[ -n "$prefix" ] || prefix=${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}
mkdir -p "$prefix"
export WINEPREFIX=$(cd "$prefix" && pwd)
export WINEARCH=win32
export LC_ALL=ja_JP.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

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
) 9>"$WINEPREFIX.lock"

if [ "${HVB_NEEDS_DISPLAY:-0}" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"
fi
exec wine "$@"
