#!/usr/bin/env bash
# A PulseAudio server of a test's own: no system service and no
# configuration read, everything of it in the folder given; its one output
# is a null sink, "vesk", whose monitor the test records.
#   sound_server.sh start DIR   starts it and returns once it answers
#   sound_server.sh stop DIR    stops it and returns once it has gone
set -u
dir=$2
export XDG_RUNTIME_DIR=$dir PULSE_RUNTIME_PATH=$dir PULSE_STATE_PATH=$dir HOME=$dir
export PULSE_SERVER=unix:$dir/native PULSE_COOKIE=$dir/cookie
case $1 in
start)
  # Should the test die without stopping it, it ends by itself once no
  # client has been left for a while.
  pulseaudio -n -F /dev/null --daemonize=no --use-pid-file=no --exit-idle-time=20 \
    --log-target="file:$dir/server.log" \
    --load="module-null-sink sink_name=vesk rate=48000 channels=2" \
    --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/server.pid"
  for _ in $(seq 200); do
    pactl info >/dev/null 2>&1 && exit 0
    kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "the sound server did not start; its log: $dir/server.log" >&2
  exit 1 ;;
stop)
  pid=$(cat "$dir/server.pid" 2>/dev/null) || exit 0
  kill "$pid" 2>/dev/null
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || exit 0
    sleep 0.05
  done
  kill -9 "$pid" 2>/dev/null
  exit 0 ;;
esac
echo "usage: sound_server.sh start|stop DIR" >&2
exit 2
