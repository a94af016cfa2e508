#!/usr/bin/env bash
# The real program on the test source, animated from the Live View: double-click the preview,
# five Spaces in the Live View (the main window's GRAB SINGLE FRAME each), one Backspace (Remove
# Last Frame), then STOP ALL in the main window; ffprobe finds 4 frames, stamped 1 to 4.
# KELVRA_SHOTS_DIR=folder keeps a picture of the screen with the Live View and its onion skin.
set -euo pipefail
program=$1
stamps=$2
export KELVRA_CAPTURE_DRIVERS=test
source "$(dirname "$0")/session.sh"

frames_of() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }

start_program
# The preview is the capture window at (22, 30), 200 x 168, in the main window.
xdotool mousemove --window "$window" 122 114 click --repeat 2 --delay 60 1
live=$(timeout 10 xdotool search --sync --onlyvisible --name "^Live View$" | head -1)
[ -n "$live" ] || fail "no Live View after a double-click on the preview"
xdotool windowfocus --sync "$live"
sleep 0.3
for _ in 1 2 3 4 5; do xdotool key --delay 150 space; done
xdotool key 3  # an onion skin of the last three frames
sleep 0.5
if [ -n "${KELVRA_SHOTS_DIR:-}" ]; then
  mkdir -p "$KELVRA_SHOTS_DIR"
  ffmpeg -v error -y -f x11grab -video_size 1024x768 -i "$DISPLAY" -frames:v 1 "$KELVRA_SHOTS_DIR/e2e-live-view.png" || true
fi
xdotool key BackSpace
sleep 0.5
# Back to the main window, whose focus is still on REC: two tabs to STOP ALL.
xdotool windowfocus --sync "$window"
tabs 2
xdotool key space
sleep 0.5
kill -0 "$pid" 2>/dev/null || fail "the program ended"
[ -f "$file" ] || fail "no capture file at $file"
frames=$(frames_of "$file")
echo "frames $frames"
[ "$frames" = 4 ] || fail "expected 4 frames (5 grabbed, 1 removed)"
[ "$("$stamps" "$file" | grep '^stamp' | tr '\n' ' ')" = "stamp 1 stamp 2 stamp 3 stamp 4 " ] || {
  "$stamps" "$file"; fail "stamps not 1 to 4"; }
grep -q "removed by the user" "$file.log" || fail "no journal line for the removal"
echo "end-to-end Live View: passed"
