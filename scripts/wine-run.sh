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
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
) 9>"$WINEPREFIX.lock"

if [ "${HVB_NEEDS_DISPLAY:-0}" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"
fi
exec wine "$@"
