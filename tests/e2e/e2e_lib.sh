# Helpers for end-to-end tests: a private X display, Wine in the project's
# prefix, and answering windows with xdotool. Source it; it sets E2E_* vars.

e2e_fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts Xvfb on a free display unless one is already set; stopped on exit.
# With a prefix: the prefix's own private display (scripts/wine-run.sh), on
# which its desktop, and so every window of its programs, already is.
e2e_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  if [ -n "${1:-}" ]; then
    DISPLAY=$("$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-run.sh" --display "$1") || e2e_fail "no display for $1"
    export DISPLAY
    return
  fi
  # The server picks a free display itself and names it once it takes
  # connections. -noreset: a server resets when its last client leaves, and
  # refuses connections while it does, so the window manager started just
  # after a probe like xdpyinfo could find no display.
  local named
  named=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$named" >/dev/null 2>&1 &
  E2E_XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$named" ] && break
    kill -0 $E2E_XVFB_PID 2>/dev/null || break
    sleep 0.1
  done
  DISPLAY=:$(head -n 1 "$named")
  rm -f "$named"
  export DISPLAY
  [ "$DISPLAY" != : ] && xdpyinfo >/dev/null 2>&1 || { kill $E2E_XVFB_PID 2>/dev/null; e2e_fail "no X display could be started"; }
  trap 'kill $E2E_XVFB_PID 2>/dev/null' EXIT
}

# A small window manager on the display, so that windows get the frames and
# captions a user sees (Wine leaves those to the window manager). Nothing
# when one runs already; stopped on exit with the display.
e2e_window_manager() {
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return
  command -v openbox >/dev/null || e2e_fail "openbox is missing (scripts/setup.sh installs it)"
  local log try
  log=$(mktemp)
  trap 'kill ${E2E_WM_PID:-} ${E2E_XVFB_PID:-} 2>/dev/null' EXIT
  # Now and then, on a busy machine, a display that has just answered
  # xdpyinfo turns openbox away ("Failed to open the display"): try again.
  for try in 1 2 3 4 5; do
    openbox --sm-disable >"$log" 2>&1 &
    E2E_WM_PID=$!
    for _ in $(seq 300); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && { rm -f "$log"; return; }
      kill -0 $E2E_WM_PID 2>/dev/null || break
      sleep 0.1
    done
    kill $E2E_WM_PID 2>/dev/null
    echo "e2e: the window manager did not come up on $DISPLAY (try $try): $(cat "$log")" >&2
    sleep 1
  done
  e2e_fail "the window manager did not come up on $DISPLAY"
}

# Waits for a visible window whose title matches the regular expression;
# prints its id.
e2e_wait_window() {
  local pattern=$1 timeout=${2:-60} id
  for _ in $(seq $((timeout * 5))); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2
  done
  return 1
}

# Sends keys to a window. A window that has the focus gets them through
# XTEST, press and release alike: xdotool sends a key to a window that is
# not focused as a synthetic event instead, so a box that closes on the
# press (and gives the focus to the next) would leave the server's key held
# down, repeating into every box after it.
e2e_keys() {
  local id=$1
  shift
  timeout 5 xdotool windowfocus --sync "$id" 2>/dev/null || true
  if [ "$(xdotool getwindowfocus 2>/dev/null)" = "$id" ]; then
    xdotool key --clearmodifiers "$@"
  else
    xdotool key --window "$id" --clearmodifiers "$@"
  fi
}

# Screenshot of the whole display, kept as a test artifact.
e2e_screenshot() {
  mkdir -p "$(dirname "$1")"
  import -display "$DISPLAY" -window root "$1" 2>/dev/null || xwd -root -silent -display "$DISPLAY" >"${1%.png}.xwd"
}
