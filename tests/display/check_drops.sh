#!/usr/bin/env bash
# Files dragged onto the real vesk window from another program, on an X
# server through Qt's X11 platform, the pointer driven through XTEST as a
# person drives it.  The drag source offers copy, move and link, so it
# proposes a move; vesk only reads what is dropped, so a WAV file and a
# batch file must be answered as a copy, and a refused file with no action
# at all, with the message saying why when it is let go over the window.  The WAV file must become the input
# and the batch file must be read as Open... reads it: its run must write
# what vesk-batch writes from the same lines.
#
#   check_drops.sh VESK VESK_BATCH DRAG_SOURCE SOURCE_DIR PICTURES_DIR
set -euo pipefail
vesk=$1 batch=$2 drag_source=$3 source=$4 pictures=$5
. "$source/tests/display/x11.sh"
use_work_folder
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir -p "$pictures"

cd "$work"
sox -n -r 48000 -b 16 -c 2 in.wav synth 1 sine 440 sine 660 vol 0.5
printf 'Notes: fssim 11025\n' >notes.txt
printf 'outwavname %s\nfssim 8000\nbitnr 8\nprocess\n' "$work/out.wav" >run.txt
"$batch" -e "inpwavname $work/in.wav" -e "outwavname $work/expected.wav" -e 'fssim 8000' -e 'bitnr 8' \
  -e process >/dev/null

start_display openbox 1280x1024x24
start_program env QT_QPA_PLATFORM=xcb "$vesk"
vesk_pid=$x11_last_pid
main=$(find_window Vesk 30) || fail "the main window did not appear"
# Each press on the source drags the next of these files.
start_program env QT_QPA_PLATFORM=xcb "$drag_source" "$work/in.wav" "$work/notes.txt" "$work/notes.txt" "$work/run.txt" \
  >answers.txt
find_window "drag source" 30 >/dev/null || fail "the drag source did not appear"
sleep 0.5

# Drags the source's next file onto the middle of the main window, lets go
# there (or, with "back", back over the source), and prints the action the
# source was told.
drag_next() {
  local -a s m
  read -ra s <<<"$(window_rect "$(find_window "drag source")")"
  read -ra m <<<"$(window_rect "$main")"
  local before from_x=$((s[0] + s[2] / 2)) from_y=$((s[1] + s[3] / 2)) to_x=$((m[0] + m[2] / 2)) to_y=$((m[1] + m[3] / 2))
  before=$(wc -l <answers.txt)
  xdotool mousemove "$from_x" "$from_y" mousedown 1
  local i
  for i in 1 2 3 4 5 6 7 8; do
    xdotool mousemove $((from_x + (to_x - from_x) * i / 8)) $((from_y + (to_y - from_y) * i / 8)) sleep 0.1
  done
  xdotool mousemove $((to_x + 5)) "$to_y" sleep 0.2 mousemove "$to_x" "$to_y" sleep 0.3
  [ "${1:-}" = back ] && xdotool mousemove $(((from_x + to_x) / 2)) $(((from_y + to_y) / 2)) sleep 0.1 \
    mousemove "$from_x" "$from_y" sleep 0.3
  xdotool mouseup 1
  for i in $(seq 100); do
    [ "$(wc -l <answers.txt)" -gt "$before" ] && break
    sleep 0.05
  done
  sed -n "$((before + 1))p" answers.txt
}

answer=$(drag_next)
[ "$answer" = copy ] || fail "a WAV file dropped was answered \"$answer\", not \"copy\""
answer=$(drag_next back)
[ "$answer" = none ] || fail "a refused file dragged over the window and back was answered \"$answer\""
sleep 1
[ -z "$(windows_titled vesk)" ] || fail "a refused file not let go over the window was told why"
answer=$(drag_next)
[ "$answer" = none ] || fail "a refused file dropped was answered \"$answer\", not \"none\""
find_window vesk 3 >/dev/null || fail "no message said why the file was refused"
capture_screen "$work/screen.ppm"
pnmtopng "$work/screen.ppm" >"$pictures/drop-refused.png"
press Return
wait_window_gone vesk || fail "the refusal's message did not close"
answer=$(drag_next)
[ "$answer" = copy ] || fail "a batch file dropped was answered \"$answer\", not \"copy\""
for i in $(seq 600); do
  [ -s out.wav ] && break
  sleep 0.1
done
wait_window_gone Processing 60 || fail "the batch file's run did not end"
cmp expected.wav out.wav || fail "the run of the dropped batch file on the dropped WAV is not vesk-batch's"
echo "drops answered copy, none (moved away, nothing said), none (told why), copy; the batch file's run is vesk-batch's"
