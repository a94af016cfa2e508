#!/usr/bin/env bash
# The real program on the test source, by the keyboard: record a few frames and pause, then
# Video Player, Open File, the recording, Ctrl+E in the media window and Enter in Export Film:
# the MP4 appears beside the recording, an H.264 film with every frame of it.
set -euo pipefail
program=$1
export KELVRA_CAPTURE_DRIVERS=test
source "$(dirname "$0")/session.sh"

if ! ffmpeg -hide_banner -loglevel error -f lavfi -i color=size=64x64 -frames:v 1 -c:v libx264 -f null - 2>/dev/null; then
  echo "skipped: libx264 cannot run here"
  exit 77
fi

# shot WINDOW NAME: the window as the X server shows it, into $KELVRA_SHOTS_DIR when that is set.
shot() {
  [ -n "${KELVRA_SHOTS_DIR:-}" ] || return 0
  mkdir -p "$KELVRA_SHOTS_DIR"
  eval "$(xdotool getwindowgeometry --shell "$1")"
  ffmpeg -loglevel error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 \
    "$KELVRA_SHOTS_DIR/$2" || echo "no picture of $2"
}

probe() { ffprobe -v error -count_frames -select_streams v:0 -show_entries "stream=$2" -of csv=p=0 "$1"; }

start_program
# Focus starts on REC: 9 tabs to Speed Fps, 2 more to Capture Every; Enter records, Escape pauses.
tabs 9
xdotool key ctrl+a; xdotool type --delay 40 "10"
tabs 2
xdotool key ctrl+a; xdotool type --delay 40 "1"
xdotool key Return
sleep 3.5
xdotool key Escape
# From Capture Every, 7 tabs to Video Player; its focus starts on Open File.
tabs 7
xdotool key space
player=$(timeout 10 xdotool search --sync --onlyvisible --name "Kelvra Time-lapse player" | head -1)
[ -n "$player" ] || fail "the player did not open"
sleep 0.3
xdotool key space
chooser=$(timeout 10 xdotool search --sync --onlyvisible --name "Create Capture File" | head -1)
[ -n "$chooser" ] || fail "the file chooser did not open"
sleep 0.3
xdotool key ctrl+a; xdotool type --delay 20 "$file"; xdotool key Return
media=$(timeout 10 xdotool search --sync --onlyvisible --name "^$file\$" | head -1)
[ -n "$media" ] || fail "the media window did not open"
xdotool windowfocus --sync "$media"
sleep 0.3
xdotool key ctrl+e
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name "Export Film" | head -1)
[ -n "$dialog" ] || fail "Ctrl+E did not open Export Film"
sleep 0.3
shot "$dialog" export-dialog-x11.png
xdotool key Return

film=${file%.avi}.mp4
for _ in $(seq 300); do [ -f "$film" ] && break; sleep 0.1; done
[ -f "$film" ] || fail "no film at $film"
frames=$(probe "$file" nb_read_frames)
echo "recording: $frames frames; film: $(probe "$film" codec_name,pix_fmt,nb_read_frames,avg_frame_rate)"
# ffprobe gives the fields in its own order: codec, pixel format, rate, frames read.
[ "$(probe "$film" codec_name,pix_fmt,nb_read_frames,avg_frame_rate)" = "h264,yuv420p,10/1,$frames" ] ||
  fail "the film is not H.264 yuv420p with the recording's $frames frames at 10 fps"
[ "$frames" -ge 2 ] || fail "the recording holds $frames frames"
ls -a "$(dirname "$film")" | grep -q '\.partial$' && fail "a temporary file was left"
progress=$(timeout 10 xdotool search --sync --onlyvisible --name "Export finished" | head -1)
[ -n "$progress" ] || fail "the progress window does not say the export finished"
sleep 0.3
shot "$progress" export-finished-x11.png
echo "end-to-end film export: passed"
