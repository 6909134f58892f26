#!/usr/bin/env bash
# The heap's retry question as a user sees it: a real message box under Wine.
# Yes twice asks again each time; Cancel makes the heap creation fail.
set -u
program=$1 prefix=$2 artifacts=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"
mkdir -p "$artifacts"
e2e_display "$prefix"
e2e_window_manager

trace=$artifacts/heap_prompt.trace
out=$artifacts/heap_prompt.out
WINEDEBUG=+msgbox "$here/../../scripts/wine-run.sh" --prefix "$prefix" "$program" >"$out" 2>"$trace" &
pid=$!

caption='HVB メモリアロケーション'
for answer in y y Escape; do
  id=$(e2e_wait_window "$caption" 60) || { kill $pid; e2e_fail "no retry question appeared"; }
  [ "$answer" = Escape ] && e2e_screenshot "$artifacts/heap_prompt.png"
  e2e_keys "$id" "$answer"
  for _ in $(seq 50); do xdotool search --onlyvisible --name "$caption" >/dev/null 2>&1 || break; sleep 0.1; done
done
wait $pid || e2e_fail "program exit status $?"

grep -q "heap null" "$out" || e2e_fail "hvbHeapCreate did not return null: $(cat "$out")"
boxes=$(grep -c "msgbox:MSGBOX_OnInit" "$trace")
[ "$boxes" -eq 3 ] || e2e_fail "expected 3 questions, the trace shows $boxes"
# Wine traces the text as UTF-16 escapes: "メモリ確保に失敗しました。" begins it.
grep -q 'MSGBOX_OnInit L"\\30e1\\30e2\\30ea\\78ba\\4fdd\\306b\\5931\\6557\\3057\\307e\\3057\\305f\\3002\\n' "$trace" \
  || e2e_fail "the question's text is not the heap's"
echo "1 passed, 0 failed"
