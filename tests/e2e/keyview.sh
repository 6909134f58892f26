#!/usr/bin/env bash
# keyview under Wine and Xvfb, driven with xdotool: keys, buttons and the
# wheel through the input filter and its queue, chains and cycles of
# assignments, stick_key, transparent, joy_mouse steps, the queue's capacity
# and time-out, a key file with bad entries, SC_CLOSE ignored, and full
# screen in the mode the display offers. Logs and screenshots stay in the
# artifacts folder.
set -u
program=$1 prefix=$2 artifacts=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"
rm -rf "$artifacts"
mkdir -p "$artifacts"
e2e_display "$prefix"
passed=0

# start NAME [keyview options]: keyview with NAME.log in the artifacts
# folder (and NAME.xml as its key file when one was written); sets WIN.
start() {
  local name=$1
  shift
  local keys=()
  [ -f "$artifacts/$name.xml" ] && keys=(--keys "$name.xml")
  (cd "$artifacts" && HVB_TRACE=1 exec "$here/../../scripts/wine-run.sh" --prefix "$prefix" "$program" \
    --log "$name.log" --seconds 120 "${keys[@]}" "$@" >"$name.out" 2>"$name.err") &
  PID=$!
  LOG=$artifacts/$name.log
  WIN=$(e2e_wait_window '^keyview$' 60) || { kill $PID; e2e_fail "$name: no window"; }
  wait_line '^window ' "$name"
  xdotool windowactivate --sync "$WIN" 2>/dev/null || xdotool windowfocus --sync "$WIN"
  sleep 0.5
}
# Escape quits through the game thread; keyview's last line says whether it
# was Escape or its --seconds that ended it.
stop() {
  e2e_keys "$WIN" Escape
  for _ in $(seq 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
  if kill -0 $PID 2>/dev/null; then
    kill $PID
    e2e_fail "$1: still running 30 s after Escape"
  fi
  wait $PID || e2e_fail "$1: exit status $?"
  log_text | grep -qx 'key 0 0 27' || e2e_fail "$1: Escape was no key event"
  log_text | tail -n 1 | grep -qx 'end escape' || e2e_fail "$1: not ended by Escape ($(log_text | tail -n 1))"
  passed=$((passed + 1))
}
# keyview writes its log in text mode: CR LF.
log_text() { tr -d '\r' <"$LOG" 2>/dev/null; }
keys_of() { log_text | grep -E '^key ' | tr '\n' ','; }
# Waits until the log holds at least N key lines.
wait_keys() { for _ in $(seq 50); do [ "$(log_text | grep -c '^key ')" -ge "$1" ] && return; sleep 0.1; done; }
# Waits until a log line matches the regular expression.
wait_line() { for _ in $(seq 100); do log_text | grep -qE "$1" && return; sleep 0.1; done; e2e_fail "$2: no line $1"; }
# Z (never assigned here) goes through the same input queue as the keys
# before it: once the window has it, they have all been handled.
marker() { e2e_keys "$WIN" z; wait_line '^message keydown 90$' "$1"; }
client_point() { log_text | awk -v dx="$1" -v dy="$2" '/^window /{print $2 + dx, $3 + dy; exit}'; }

assign() { # INPUT-DEVICE INPUT-KEY OUTPUT-DEVICE OUTPUT-KEY
  echo "  <key_assign><input device=\"$1\" key=\"$2\"/><output device=\"$3\" key=\"$4\"/></key_assign>"
}

# Keys, buttons, wheel in order; Q→W→E delivers E; the cycle J→K→J stops
# after 16 steps on K; assigned keys never reach the window.
{
  echo '<filter flags="normal">'
  assign keyboard ascii:Q keyboard ascii:W
  assign keyboard ascii:W keyboard ascii:E
  assign keyboard ascii:J keyboard ascii:K
  assign keyboard ascii:K keyboard ascii:J
  echo '</filter>'
} >"$artifacts/keys.xml"
start keys
read -r x y < <(client_point 100 100)
xdotool mousemove --sync "$x" "$y"
e2e_keys "$WIN" a q j
xdotool click 1 click 3 click 2 click 4 click 5
wait_keys 8
e2e_screenshot "$artifacts/windowed.png"
got=$(keys_of)
want='key 0 0 65,key 0 0 69,key 0 0 75,key 1 0 1,key 1 0 2,key 1 0 4,key 1 0 40,key 1 0 38,'
[ "$got" = "$want" ] || e2e_fail "keys: got $got"
# The window's own SC_CLOSE handling, reached with the message itself: the
# class's CS_NOCLOSE keeps Alt+F4 from ever sending it.
e2e_keys "$WIN" alt+F4
cat >"$artifacts/sc_close.c" <<'C'
#include <windows.h>
int main(int argc, char** argv) {
    HWND window = argc > 1 ? FindWindowA(NULL, argv[1]) : NULL;
    if (window == NULL) return 2;
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
}
C
i686-w64-mingw32-gcc -O -o "$artifacts/sc_close.exe" "$artifacts/sc_close.c" || e2e_fail "sc_close: not built"
"$here/../../scripts/wine-run.sh" --prefix "$prefix" "$artifacts/sc_close.exe" keyview \
  || e2e_fail "SC_CLOSE: not sent (status $?)"
marker keys
log_text | grep -q '^message close ' && e2e_fail "SC_CLOSE reached the window as WM_CLOSE"
xdotool search --onlyvisible --name '^keyview$' >/dev/null || e2e_fail "SC_CLOSE closed the window"
log_text | grep -q '^message keydown 65$' || e2e_fail "keys: an unassigned key did not reach the window"
log_text | grep -qE '^message keydown (81|74)$' && e2e_fail "keys: an assigned key reached the window"
stop keys

# stick_key posts the final key to the window, which queues it again;
# transparent lets the original message through.
for mode in stick_key transparent; do
  { echo "<filter flags=\"$mode\">"; assign keyboard ascii:Q keyboard ascii:W; echo '</filter>'; } >"$artifacts/$mode.xml"
  start $mode
  e2e_keys "$WIN" q
  marker $mode
  case $mode in
    stick_key)
      log_text | grep -q '^message keydown 87$' || e2e_fail "stick_key: W was not posted"
      log_text | grep -q '^message keydown 81$' && e2e_fail "stick_key: Q reached the window" ;;
    transparent)
      log_text | grep -q '^message keydown 81$' || e2e_fail "transparent: Q did not reach the window"
      log_text | grep -q '^message keydown 87$' && e2e_fail "transparent: W was posted" ;;
  esac
  wait_keys 1
  log_text | grep -q '^key 0 0 87$' || e2e_fail "$mode: no W event"
  stop $mode
done

# joy_mouse, threshold 16: 40 pixels right of the base point are two "right"
# press/release pairs, and the cursor ends 8 pixels right of the base point.
echo '<filter flags="joy_mouse" mouse_base_x="320" mouse_base_y="160" mouse_threshold="16"/>' >"$artifacts/joy.xml"
start joy
before=$(log_text | grep -c '^key ')
read -r x y < <(client_point 360 160)
xdotool mousemove "$x" "$y"
wait_keys $((before + 2))
new=$(log_text | grep '^key ' | tail -n +$((before + 1)) | tr '\n' ',')
[ "$new" = 'key 2 0 3,key 2 0 3,' ] || e2e_fail "joy_mouse: events $new"
read -r bx by < <(client_point 328 160)
for _ in $(seq 50); do
  eval "$(xdotool getmouselocation --shell)"
  [ "$X" = "$bx" ] && [ "$Y" = "$by" ] && break
  sleep 0.1
done
[ "$X" = "$bx" ] && [ "$Y" = "$by" ] || e2e_fail "joy_mouse: cursor at $X,$Y, not $bx,$by"
stop joy

# Capacity 2: of three presses before the game thread waits, the last two;
# then the empty queue times out. The game thread starts waiting when the
# script makes the start file, once the window has had all three.
rm -f "$artifacts/queue.go"
start queue --queue 2 --start-file queue.go --wait 300
e2e_keys "$WIN" a b c
wait_line '^message keydown 67$' queue
: >"$artifacts/queue.go"
wait_line '^timeout$' queue
got=$(log_text | grep -E '^(key|timeout)' | head -n 3 | tr '\n' ',')
[ "$got" = 'key 0 0 66,key 0 0 67,timeout,' ] || e2e_fail "queue: got $got"
stop queue

# A run that its --seconds end says so.
start limit --seconds 10
for _ in $(seq 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
kill -0 $PID 2>/dev/null && { kill $PID; e2e_fail "limit: still running 20 s after its 10 seconds"; }
wait $PID || e2e_fail "limit: exit status $?"
log_text | tail -n 1 | grep -qx 'end time limit' || e2e_fail "limit: ended with '$(log_text | tail -n 1)'"
passed=$((passed + 1))

# Unknown devices are keyboards, bad key texts code 0 with a trace message,
# incomplete assignments are skipped.
cat >"$artifacts/bad.xml" <<'XML'
<filter flags="normal bogus" joystick_count="3">
  <key_assign><input device="gamepad" key="ascii:Q"/><output device="keyboard" key="enter"/></key_assign>
  <key_assign><input device="keyboard" key="ascii:X"/></key_assign>
  <key_assign><output device="keyboard" key="ascii:Y"/></key_assign>
  <key_assign><input device="keyboard" key="button:"/><output device="mouse" key="ascii:"/></key_assign>
  <key_assign/>
</filter>
XML
start bad
e2e_keys "$WIN" q x
wait_keys 2
# Q maps to code 0, which the second bad line maps on to mouse code 0.
[ "$(keys_of)" = 'key 1 0 0,key 0 0 88,' ] || e2e_fail "bad: got $(keys_of)"
stop bad
n=$(iconv -f CP932 -t UTF-8 "$artifacts/bad.err" | grep -c 'キー指定が不正です。')
[ "$n" -eq 3 ] || e2e_fail "bad: $n trace messages, expected 3"

# Full screen: the mode chosen for 640 × 480 is the one the same rules pick
# from what the display offers (Xvfb: usually only its own mode).
start full --fullscreen --size 640x480
sleep 1
e2e_screenshot "$artifacts/fullscreen.png"
want=$(awk '/^desktop /{d=$2} /^mode /{n++; w[n]=$2; h[n]=$3; b[n]=$4}
  END { for (i = 1; i <= n; i++) if (w[i] == 640 && h[i] == 480 && b[i] == d) { print 640, 480; exit }
        bw = 2147483647; bh = bw; found = 0
        for (i = 1; i <= n; i++) if (w[i] >= 640 && h[i] >= 480 && w[i] <= bw && h[i] <= bh && b[i] == d) {
          bw = w[i]; bh = h[i]; found = 1 }
        if (found) print bw, bh; else print "none" }' < <(log_text))
got=$(log_text | awk '/^window /{print $8, $9}')
[ "$got" = "$want" ] || e2e_fail "full screen: screen $got, expected $want"
read -r ox oy < <(log_text | awk '/^window /{print $6, $7}')
read -r sw sh <<<"$got"
[ "$ox" -eq $(((sw - 640) / 2)) ] && [ "$oy" -eq $(((sh - 480) / 2)) ] || e2e_fail "full screen: offset $ox,$oy"
stop full

echo "$passed passed, 0 failed"
