#!/usr/bin/env bash
# The real vesk on an X server through Qt's X11 platform, driven by clicks and
# keys as a person drives it, and seen as a person sees it: a picture of the
# whole screen (xwd -root) must show each window's rectangle drawn, not
# black.  The windows: the main window, About, a refused text's message,
# Info, Open...'s chooser, Listen, the Processing window during a run of a
# few seconds, Spectra after it, and Quit's question.  Where the screen has
# room, Listen and the Processing window open beside the main window, and a
# second run refreshes the open Spectra window without raising it.
#
#   check_windows.sh VESK SOURCE_DIR PICTURES_DIR [openbox]
#
# The screen pictures are kept in PICTURES_DIR, one per window, to look at.
set -euo pipefail
vesk=$1 source=$2 pictures=$3 manager=${4:-none}
. "$source/tests/display/x11.sh"
use_work_folder
fail() { echo "FAIL ($manager): $*" >&2; exit 1; }
mkdir -p "$pictures"

# The visible window titled $1 is drawn on the screen: less than half of its
# rectangle is black and it has more than one colour.  A window may take a
# moment to be painted after it appears.
expect_drawn() {
  local title=$1 name=$2 id rect black=1000 colours=0 i
  id=$(find_window "$title") || fail "no window \"$title\" appeared"
  for i in $(seq 50); do
    rect=$(window_rect "$id") || fail "\"$title\" went before it was seen"
    capture_screen "$work/screen.ppm"
    read -r black colours <<<"$(rect_black_and_colours "$work/screen.ppm" "$rect")"
    [ "$black" -lt 500 ] && [ "$colours" -gt 1 ] && break
    sleep 0.1
  done
  pnmtopng "$work/screen.ppm" >"$pictures/$name.png"
  [ "$black" -lt 500 ] && [ "$colours" -gt 1 ] ||
    fail "\"$title\" at $rect is not drawn on the screen: $black/1000 black, $colours colour(s); see $pictures/$name.png"
  echo "drawn: \"$title\" at $rect ($black/1000 black, $colours colours)"
}

# Closes the window titled $1 with the key(s) that follow.
close_with() {
  local title=$1
  shift
  press "$@"
  wait_window_gone "$title" || fail "\"$title\" did not close"
}

# An input whose run takes a few seconds: two minutes of stereo.
cd "$work"
sox -n -r 48000 -b 16 -c 2 inp.wav synth 120 sine 440 sine 660 vol 0.5
start_display "$manager" 1920x1080x24
start_program env QT_QPA_PLATFORM=xcb "$vesk"
vesk_pid=$x11_last_pid
main=$(find_window Vesk 30) || fail "the main window did not appear"
expect_drawn Vesk main

click_control "$main" aboutButton
expect_drawn "About vesk" about
close_with "About vesk" Escape

click_control "$main" fssrcEdit
press ctrl+a
type_text abc
press Return
expect_drawn vesk refusal
close_with vesk Return
type_text 48000

click_control "$main" infoButton
expect_drawn "Input WAV info" info
close_with "Input WAV info" Escape

click_control "$main" openButton
expect_drawn "Open batch file" open-chooser
close_with "Open batch file" Escape

click_control "$main" listenButton
expect_drawn Listen listen
listen=$(find_window Listen)
# The window manager may place the window before the program's own place
# for it arrives (on a slow machine): what counts is where it comes to rest.
for _ in $(seq 30); do apart "$listen" "$main" && break; sleep 0.1; done
apart "$listen" "$main" || fail "Listen opened over the main window"

click_control "$main" fssimEdit
press ctrl+a
type_text 11025
click_control "$main" processButton
expect_drawn Processing processing
processing=$(find_window Processing)
apart "$processing" "$main" && apart "$processing" "$listen" ||
  fail "the Processing window opened over the main window or Listen"
wait_window_gone Processing 300 || fail "the run did not end"
expect_drawn Spectra spectra

# The second run's end refreshes Spectra where it is in the windows' order.
spectra=$(find_window Spectra)
click_control "$main" processButton
find_window Processing >/dev/null || fail "the second run did not start"
below=$(( $(stacking_place "$spectra") < $(stacking_place "$main") ))
wait_window_gone Processing 300 || fail "the second run did not end"
sleep 1
[ $(( $(stacking_place "$spectra") < $(stacking_place "$main") )) = "$below" ] ||
  fail "the run's end raised Spectra over the main window"
expect_drawn Listen listen-after-runs

# Escape in the main window (which has the keys since Process was clicked)
# asks the quit question.
press Escape
expect_drawn vesk quit-question
press alt+y
for i in $(seq 100); do
  kill -0 "$vesk_pid" 2>/dev/null || break
  sleep 0.1
done
! kill -0 "$vesk_pid" 2>/dev/null || fail "vesk did not end after Quit and Yes"
wait "$vesk_pid" || fail "vesk ended with status $?"
echo "every window drawn ($manager)"
