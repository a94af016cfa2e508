#!/usr/bin/env bash
# The real program on the test source, driven by the keyboard only:
#  1. type Speed Fps 10 and Capture Every 1, Enter records, Escape pauses after about 3.5 s,
#     Exit and Enter on the question (Yes is the default); the file holds 3 frames at 10 fps,
#     stamped 1, 2, 3;
#  2. a second run is killed during a recording: the file is valid and holds every counted
#     frame but at most the last.
set -euo pipefail
program=$1
stamps=$2
export KELVRA_CAPTURE_DRIVERS=test
source "$(dirname "$0")/session.sh"

# Focus starts on REC; the tab order follows the template: 9 tabs to Speed Fps, 2 more to
# Capture Every, 11 more from there to Exit (each unit button is a tab stop).
type_timing() {
  tabs 9
  xdotool key ctrl+a; xdotool type --delay 40 "10"
  tabs 2
  xdotool key ctrl+a; xdotool type --delay 40 "1"
}

frames_of() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
rate_of() { ffprobe -v error -select_streams v:0 -show_entries stream=avg_frame_rate -of csv=p=0 "$1"; }

echo "run 1: record, pause, exit"
start_program
type_timing
xdotool key Return
sleep 3.5
xdotool key Escape
tabs 11
xdotool key space
sleep 0.5
xdotool key Return
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "the program did not end after Yes"; exit 1; fi
wait "$pid" && status=0 || status=$?
[ "$status" = 1 ] || { echo "exit status $status, expected 1"; exit 1; }
[ -f "$file" ] || { echo "no capture file at $file"; cat "$work/program.log"; exit 1; }
frames=$(frames_of "$file"); rate=$(rate_of "$file")
echo "frames $frames, rate $rate"
[ "$frames" = 3 ] || { echo "expected 3 frames"; exit 1; }
[ "$rate" = 10/1 ] || { echo "expected 10 fps"; exit 1; }
[ "$("$stamps" "$file" | grep '^stamp' | tr '\n' ' ')" = "stamp 1 stamp 2 stamp 3 " ] || {
  echo "stamps not 1, 2, 3:"; "$stamps" "$file"; exit 1; }

echo "run 2: killed while recording"
rm -f "$file"
start_program
type_timing
xdotool key Return
sleep 2.6
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
frames=$(frames_of "$file")
echo "frames after the kill: $frames"
[ "$frames" -ge 1 ] && [ "$frames" -le 2 ] || { echo "expected 1 or 2 frames (2 counted)"; exit 1; }
expected=$(seq -s ' ' -f 'stamp %g' 1 "$frames")
[ "$("$stamps" "$file" | grep '^stamp' | tr '\n' ' ' | sed 's/ $//')" = "$expected" ] || {
  echo "stamps not consecutive:"; "$stamps" "$file"; exit 1; }
echo "end-to-end keyboard recording: passed"
