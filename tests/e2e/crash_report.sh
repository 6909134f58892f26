#!/usr/bin/env bash
# The crash reporter as a user meets it: real boxes and the real save dialog
# under Wine, answered with xdotool; box texts read from WINEDEBUG=+msgbox.
set -u
program=$1 prefix=$2 artifacts=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"
mkdir -p "$artifacts"
e2e_display "$prefix"
e2e_window_manager
caption='例外エラー情報'
texts() { python3 "$here/msgbox_texts.py" "$1" 2>/dev/null; }
# The read of address 0 is an access violation and the idiv by 0 a division
# by zero, except where Wine runs under qemu's user-mode emulation: qemu's
# signal frame carries no trap number (Wine traces "Got unexpected trap -1"),
# so Wine takes the fault for an illegal instruction, the division for an
# invalid floating-point operand, and cannot tell a stack overflow at all
# (it ends the process itself). The reporter names what the system hands it.
emulated=0
grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null && emulated=1
access_code=C0000005 access_name=ページアクセス例外 divide_name=ゼロ除算例外
[ $emulated = 0 ] || access_code=C000001D access_name=無効命令例外 divide_name='FPU 不正オペランド例外'

# run NAME SCENARIO KEYS...: one key (or "save:PATH") per box, in order;
# "cut:FILE" empties FILE once the program has mapped it.
run() {
  local name=$1 scenario=$2
  shift 2
  WINEDEBUG=+msgbox "$here/../../scripts/wine-run.sh" --prefix "$prefix" "$program" "$scenario" \
    >"$artifacts/$name.out" 2>"$artifacts/$name.trace" &
  local pid=$! answer id
  for answer in "$@"; do
    if [ "${answer%%:*}" = cut ]; then
      for _ in $(seq 300); do grep -q '^view ' "$artifacts/$name.out" && break; sleep 0.2; done
      grep -q '^view ' "$artifacts/$name.out" || { kill $pid; e2e_fail "$name: nothing mapped"; }
      truncate -s 0 "${answer#cut:}"
      continue
    elif [ "${answer%%:*}" = save ]; then
      id=$(e2e_wait_window 'ログファイル保存' 60) || { kill $pid; e2e_fail "$name: no save dialog"; }
      xdotool windowfocus --sync "$id" 2>/dev/null; xdotool type --window "$id" "${answer#save:}"
      e2e_keys "$id" Return
    else
      id=$(e2e_wait_window "$caption" 60) || { kill $pid; e2e_fail "$name: no question"; }
      [ "$name" = access_cancel ] && e2e_screenshot "$artifacts/main_question.png"
      e2e_keys "$id" "$answer"
    fi
    for _ in $(seq 50); do xdotool search --onlyvisible --name "$caption" >/dev/null 2>&1 || break; sleep 0.1; done
  done
  # After a final No the system's own handling may linger; do not wait for
  # ever. A process still running is killed and its status is 124.
  for _ in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then
    kill $pid 2>/dev/null
    wait $pid
    return 124
  fi
  wait $pid
}

run access_cancel access n n Escape; status=$?
[ "$status" -eq 255 ] || e2e_fail "Cancel: exit status $status, not 0xFFFFFFFF"
[ "$(texts "$artifacts/access_cancel.trace" | grep -c "\\\\n    $access_name\\\\n")" -eq 3 ] || e2e_fail "No twice: not three questions"
texts "$artifacts/access_cancel.trace" | head -n 1 | grep -qF "▼ プログラム実行中に以下の例外エラーが発生しました。\\n    $access_name\\n    CS:EIP = " \
  || e2e_fail "main question text"

run divide divide Escape; status=$?
[ "$status" -eq 255 ] || e2e_fail "divide: Cancel gave exit status $status, not 0xFFFFFFFF"
texts "$artifacts/divide.trace" | grep -q "\\\\n    $divide_name\\\\n" || e2e_fail "division by zero not named"
run unknown unknown Escape; status=$?
[ "$status" -eq 255 ] || e2e_fail "unknown: Cancel gave exit status $status, not 0xFFFFFFFF"
texts "$artifacts/unknown.trace" | grep -q '\\n    無効例外\\n' || e2e_fail "unknown code not named"
for scenario in int3 raise-breakpoint; do
  run "$scenario" "$scenario" y || e2e_fail "$scenario: exit status $?"
  texts "$artifacts/$scenario.trace" | grep -q '^ブレークポイント例外が [0-9A-F]\{8\}H で発生しました。\\n処理を続行しますか？$' \
    || e2e_fail "$scenario: breakpoint question"
  grep -q 'went on' "$artifacts/$scenario.out" || e2e_fail "$scenario: did not resume"
done

# Going on from an exception that cannot be continued ends the process:
# the question is not asked again one level deeper.
run noncontinuable noncontinuable n; status=$?
# The handler is executed: the process ends with the exception's code.
[ "$status" -eq 1 ] || e2e_fail "noncontinuable: exit status $status, not that of E0000001"
[ "$(texts "$artifacts/noncontinuable.trace" | grep -c '例外エラーが発生しました')" -eq 1 ] \
  || e2e_fail "noncontinuable: not one question"
grep -q 'went on' "$artifacts/noncontinuable.out" && e2e_fail "noncontinuable: went on"
# A stack overflow is reported from a thread with a stack of its own: one
# raised, and (where the system can tell one) a stack really used up.
overflows=raise-overflow
[ $emulated = 1 ] || overflows+=" overflow"
[ $emulated = 0 ] || echo "overflow: only raised here: under qemu, Wine cannot tell a stack overflow from other faults"
for scenario in $overflows; do
  run $scenario $scenario Escape; status=$?
  [ "$status" -eq 255 ] || e2e_fail "$scenario: exit status $status, not 0xFFFFFFFF"
  texts "$artifacts/$scenario.trace" | grep -q '\\n    スタックオーバーフロー例外\\n' || e2e_fail "$scenario: not asked"
done

# A stack overflow on a thread that holds the library heap's lock: the log is
# still written, and the question after it still comes.
locked_log="$prefix/drive_c/crash_locked.log"
rm -f "$locked_log"
run locked locked-overflow y 'save:C:\crash_locked.log' n
[ -s "$locked_log" ] || e2e_fail "locked: no log, or an empty one"
texts "$artifacts/locked.trace" | tail -n 1 | grep -qx 'ログファイルを保存しました。\\n処理を続行しますか？' \
  || e2e_fail "locked: no final question"

# The process heap locked too: the reporter's first box cannot come up, and
# the crashed thread stops waiting for it rather than hang for good: the
# process ends with the overflow's code (C00000FD).
WINEDEBUG=+msgbox "$here/../../scripts/wine-run.sh" --prefix "$prefix" "$program" stuck-overflow \
  >"$artifacts/stuck.out" 2>"$artifacts/stuck.trace" &
pid=$!
for _ in $(seq 900); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  kill $pid 2>/dev/null
  e2e_fail "stuck: still running 90 s after the overflow"
fi
wait $pid; status=$?
[ "$status" -eq 253 ] || e2e_fail "stuck: exit status $status, not that of C00000FD"
grep -q 'went on' "$artifacts/stuck.out" && e2e_fail "stuck: went on"

# The memory a register points to faults when read (a view whose file is
# gone): its dump shows unreadable bytes and the log goes on to its end.
vanished_log="$prefix/drive_c/crash_vanished.log"
rm -f "$vanished_log"
run vanished vanished "cut:$prefix/drive_c/crash_view.bin" y 'save:C:\crash_vanished.log' n
texts "$artifacts/vanished.trace" | tail -n 1 | grep -qx 'ログファイルを保存しました。\\n処理を続行しますか？' \
  || e2e_fail "vanished: no final question"
tr -d '\r' <"$vanished_log" | grep -qaxF "ESI+0000H : $(printf '?? %.0s' {1..16})    ................ " \
  || e2e_fail "vanished: ESI dump"
grep -qa '^EBP+0000H : ' "$vanished_log" || e2e_fail "vanished: the log stops before EBP's dump"

log="$prefix/drive_c/crash_report.log"
rm -f "$log"
run save access y 'save:C:\crash_report.log' n
[ -f "$log" ] || e2e_fail "no log written"
texts "$artifacts/save.trace" | tail -n 1 | grep -qx 'ログファイルを保存しました。\\n処理を続行しますか？' || e2e_fail "final question"
python3 - "$log" "$(head -n 1 "$artifacts/save.out")" "$access_code" "$access_name" <<'PY' || e2e_fail "log contents"
# Dump lines hold raw memory bytes, so the log is read as bytes; only the
# header's text is decoded.
import re, sys
lines = open(sys.argv[1], "rb").read().split(b"\r\n")
regs = dict(kv.split("=") for kv in sys.argv[2].split())
text = lambda i: lines[i].decode("cp932")
def check(ok, what):
    if not ok: sys.exit("log: " + what)
check(text(0).startswith("モジュール：") and text(0).endswith("crash_report.exe"), "module line")
check(re.fullmatch(r"例外エラーがスレッド [0-9A-F]{8}H で発生しました。", text(1)) is not None, "thread line")
check(text(2) == "例外エラーコード：%sH" % sys.argv[3] and text(3) == "例外エラーの種類：" + sys.argv[4], "code and name")
check(text(8) == "EAX = %s, EBX = 00001234, ECX = %s, EDX = %s" % (regs["EAX"], regs["ECX"], regs["EDX"]), "registers")
check(text(9).startswith("ESI = %s, EDI = %s, EBP = %s, " % (regs["ESI"], regs["EDI"], regs["EBP"])), "registers")
LINE = re.compile(rb"(?:[0-9A-F]{8}H|[ A-Z+0-9]{9}) : (?:(?:[0-9A-F]{2}|\?\?) ){16}    [^\x00-\x1f]{16} ", re.S)
def dump(title, count):
    at = lines.index(title.encode("cp932")) + 1
    body = lines[at:at + count]
    # The last line's own CR LF, then two more: two empty lines.
    check(lines[at + count:at + count + 2] == [b"", b""] and lines[at + count + 2] != b"", title + " end")
    for line in body:
        check(LINE.fullmatch(line) is not None, title + ": %r" % line)
    return body
code = dump("コードダンプ；", 32)
check(code[16].startswith(b"EIP+0000H : ") and not code[15].startswith(b"EIP"), "EIP line is the 17th")
check(int(code[0][:8], 16) == int(text(7)[-8:], 16) - 256, "code dump starts 256 bytes before EIP")
stack = dump("スタックダンプ；", 32)
check(stack[0].startswith(b"ESP+0000H : "), "ESP line first")
at = lines.index("データダンプ；".encode("cp932")) + 1
labels = [l[:9] for l in lines[at:] if re.match(rb"[A-Z]{3}\+0000H : ", l)]
check(labels == [b"EAX+0000H", b"ECX+0000H", b"EDX+0000H", b"ESI+0000H", b"EDI+0000H", b"EBP+0000H"], "data dumps: %r" % labels)
for reg, ch in (("EAX", "A"), ("ECX", "C"), ("EDX", "D"), ("ESI", "S"), ("EBP", "B")):
    at = [l[:9] for l in lines].index((reg + "+0000H").encode())
    for k, line in enumerate(lines[at:at + 8]):
        prefix = reg + "+0000H" if k == 0 else "%08XH" % (int(regs[reg], 16) + 16 * k)
        check(line == (prefix + " : " + ("%02X " % ord(ch)) * 16 + "    " + ch * 16 + " ").encode(), reg + " dump")
edi = lines[[l[:9] for l in lines].index(b"EDI+0000H")]
check(edi == b"EDI+0000H : " + b"?? " * 16 + b"    " + b"." * 16 + b" ", "unreadable EDI dump")
PY
echo "1 passed, 0 failed"
