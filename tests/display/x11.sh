# Helpers for driving the real vesk on an X server of its own, as a person
# would: keys and clicks through XTEST, pictures of the whole screen.
# Sourced by tests/display/check_windows.sh, check_drops.sh and scripts/pictures.
#
# Needs: Xvfb, xdotool, xwininfo (x11-utils), xwd (x11-apps), netpbm, and
# openbox when a window manager is asked for.  Everything started here is
# ended by stop_display.

# The design size of the main window's form, against which the positions of
# its controls are read from res/vesk_dialog.ui.
x11_ui_file=${x11_ui_file:-$(dirname "${BASH_SOURCE[0]}")/../../res/vesk_dialog.ui}

x11_pids=()

# Starts Xvfb on a free display (the server picks it) and, when $1 is
# "openbox", that window manager on it; exports DISPLAY.  $2: the screen;
# the rest: more options for Xvfb.
start_display() {
  local manager=${1:-none} screen=${2:-1280x1024x24} numberfile
  shift $(($# < 2 ? $# : 2))
  numberfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp "$@" 3>"$numberfile" >/dev/null 2>&1 &
  x11_pids+=($!)
  local i
  for i in $(seq 200); do
    [ -s "$numberfile" ] && break
    sleep 0.05
  done
  [ -s "$numberfile" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(tr -d '\n' <"$numberfile")"
  rm -f "$numberfile"
  if [ "$manager" = openbox ]; then
    openbox --sm-disable >/dev/null 2>&1 &
    x11_pids+=($!)
    # The manager has taken the screen once it names itself on the root.
    for i in $(seq 200); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
      sleep 0.05
    done
    echo "openbox did not start" >&2
    return 1
  fi
}

# Starts a program on the display and remembers it for stop_display.
start_program() {
  "$@" &
  x11_pids+=($!)
  x11_last_pid=$!
}

# Makes a work folder of its own ($work), removed together with everything
# started here when the script ends, however it ends.
use_work_folder() {
  work=$(mktemp -d)
  trap 'stop_display; rm -rf "$work"' EXIT
  trap 'exit 1' INT TERM
}

stop_display() {
  local i pid
  for ((i = ${#x11_pids[@]} - 1; i >= 0; i--)); do
    pid=${x11_pids[i]}
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
  x11_pids=()
}

# The ids of the visible windows titled exactly $1 (xdotool's own matching
# ignores case, and "vesk" is not "Vesk").
windows_titled() {
  local id
  for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ] && echo "$id"
  done
  return 0
}

# The id of the visible window titled $1, waiting up to $2 seconds (10) for
# it to appear.
find_window() {
  local wait=${2:-10} id i
  for ((i = 0; i < wait * 20; i++)); do
    id=$(windows_titled "$1" | tail -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.05
  done
  return 1
}

# Waits up to $2 seconds (10) until no visible window is titled $1.
wait_window_gone() {
  local wait=${2:-10} i
  for ((i = 0; i < wait * 20; i++)); do
    [ -z "$(windows_titled "$1")" ] && return 0
    sleep 0.05
  done
  return 1
}

# "x y width height" of a window's inside, on the screen.
window_rect() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                           /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print x, y, w, h}'
}

# Whether two windows' rectangles share no pixel.
apart() {
  local a b
  read -ra a <<<"$(window_rect "$1")"
  read -ra b <<<"$(window_rect "$2")"
  ((a[0] + a[2] <= b[0] || b[0] + b[2] <= a[0] || a[1] + a[3] <= b[1] || b[1] + b[3] <= a[1]))
}

# The place of a window among the screen's windows from the bottom up (that
# of its window manager's frame, where it has one).
stacking_place() {
  local id=$1 root parent
  root=$(xwininfo -root | awk '/Window id:/ {print $4}')
  while parent=$(xwininfo -children -id "$id" | awk '/Parent window id:/ {print $4}') && [ "$parent" != "$root" ]; do
    id=$parent
  done
  xwininfo -root -children | awk '/^ +0x/ {print $1}' | tac | grep -nx "$(printf '0x%x' "$id")" | cut -d: -f1
}

# Clicks the middle of a control of the main window, by its name in the
# form: its place in the form scaled to the window's size (the form is
# scaled as a whole to the desktop's font).
click_control() {
  local main=$1 name=$2 form control
  form=$(grep -m1 -A1 '<widget class="QDialog" name="CveskDlg">' "$x11_ui_file" | grep -o '<rect>.*</rect>')
  control=$(grep -m1 -A1 "name=\"$name\"" "$x11_ui_file" | grep -o '<rect>.*</rect>')
  [ -n "$control" ] || { echo "no control $name in the form" >&2; return 1; }
  local -a f c r
  read -ra f <<<"$(sed -E 's/<[^>]+>/ /g' <<<"$form")"
  read -ra c <<<"$(sed -E 's/<[^>]+>/ /g' <<<"$control")"
  read -ra r <<<"$(window_rect "$main")"
  local x=$((r[0] + (2 * c[0] + c[2]) * r[2] / (2 * f[2])))
  local y=$((r[1] + (2 * c[1] + c[3]) * r[3] / (2 * f[3])))
  xdotool mousemove "$x" "$y" click 1
}

# Keys to whichever window has the focus.
press() { xdotool key --delay 30 "$@"; }
type_text() { xdotool type --delay 20 "$1"; }

# The whole screen as a person sees it, as a PPM file.
capture_screen() {
  xwd -root -silent | xwdtopnm 2>/dev/null >"$1"
}

# Sets the edit of the main window named $2 to the text $3, as typed.
type_into() {
  click_control "$1" "$2"
  press ctrl+a
  type_text "$3"
}

# The share (0 to 1000, in thousandths) of pure black among the pixels of a
# rectangle "x y width height" of a PPM picture, and the number of colours
# there: "BLACK COLOURS".
rect_black_and_colours() {
  local picture=$1 x y w h
  read -r x y w h <<<"$2"
  pamcut -left "$x" -top "$y" -width "$w" -height "$h" "$picture" 2>/dev/null | ppmhist -noheader |
    awk -v total=$((w * h)) '{n++} $1 == 0 && $2 == 0 && $3 == 0 {black = $NF}
                              END {printf "%d %d\n", 1000 * black / total, n}'
}
