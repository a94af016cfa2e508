#!/usr/bin/env bash
# CPU of the Live View, the whole program for 20 s under Xvfb on the simulated USB webcam
# streaming MJPEG 1920x1080 at 30 fps (LD_PRELOAD), the Live View opened by a double-click on the
# preview and sized 1280x720:
# - with an onion skin of 2 frames (two frames grabbed with Space, then the key 2) against
#   without one: onion_preview_cpu_vs_plain_1080p (goal <= 1.25);
# - without one, against ffplay showing the same camera through FFmpeg's V4L2 input in a
#   1280x720 window: liveview_vs_ffplay_cpu_1080p_mjpeg (goal <= 1.0). Both decode every JPEG.
# CPU is user + system time from /proc/<pid>/stat over the measured span, in percent of one core.
# Usage: bench/liveview_cpu.sh [build-dir]
set -u
build=${1:-build}
program="$build/kelvra"
sim="$build/tests/libkelvra_uvc_sim.so"
seconds=${PREVIEW_SECONDS:-20}
warmup=3

for built in "$program" "$sim"; do
  [ -f "$built" ] || { echo "liveview_cpu: $built not built" >&2; exit 1; }
done
for tool in Xvfb ffplay xdpyinfo xdotool; do
  command -v "$tool" >/dev/null || { echo "liveview_cpu: $tool missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

name=liveview_cpu
source "$(dirname "$0")/xvfb_cpu.bash"
start_xvfb 121 150 1600x1024x24

camera=(KELVRA_UVC_SIM_PROFILE=webcam1080p KELVRA_UVC_SIM_FORMAT=MJPG:1920x1080@30 LD_PRELOAD=$sim)

# The program with its Live View at 1280x720; `onion` grabs two frames and shows them.
liveview() {
  local home="$scratch/home-$1" pid window live
  rm -rf "$home"; mkdir -p "$home/Videos"
  env -u KELVRA_CAPTURE_DRIVERS HOME="$home" QT_QPA_PLATFORM=xcb "${camera[@]}" "$program" >/dev/null 2>&1 &
  pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --name "Kelvra Time-lapse V1.2" | head -1)
  [ -n "$window" ] || { echo "liveview_cpu: the main window did not appear" >&2; kill "$pid"; return 1; }
  sleep 1
  xdotool mousemove --window "$window" 122 114 click --repeat 2 --delay 60 1
  live=$(timeout 10 xdotool search --sync --onlyvisible --name "^Live View$" | head -1)
  [ -n "$live" ] || { echo "liveview_cpu: no Live View" >&2; kill "$pid"; return 1; }
  xdotool windowsize --sync "$live" 1280 720 windowmove "$live" 0 0 windowfocus --sync "$live"
  if [ "$1" = onion ]; then
    xdotool key --delay 400 space space 2
  fi
  if [ -n "${KELVRA_SHOTS_DIR:-}" ]; then
    sleep 1
    mkdir -p "$KELVRA_SHOTS_DIR"
    ffmpeg -v error -y -f x11grab -draw_mouse 0 -video_size 1280x720 -i "$DISPLAY+0,0" -frames:v 1 \
      "$KELVRA_SHOTS_DIR/liveview-1080p-$1.png" || true
  fi
  measure_pid "$pid"
  local status=$?
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  return $status
}

plain=$(liveview plain) || exit 1
onion=$(liveview onion) || exit 1
env -u KELVRA_CAPTURE_DRIVERS SDL_AUDIODRIVER=dummy "${camera[@]}" \
  ffplay -hide_banner -loglevel error -an -f v4l2 -input_format mjpeg -video_size 1920x1080 -framerate 30 \
  -x 1280 -y 720 /dev/video0 >/dev/null 2>&1 &
ffplay_pid=$!
started+=($ffplay_pid)
theirs=$(measure_pid "$ffplay_pid") || exit 1

echo "liveview_cpu_percent_1080p_mjpeg: $plain %"
echo "liveview_onion2_cpu_percent_1080p_mjpeg: $onion %"
echo "ffplay_1280x720_cpu_percent_1080p_mjpeg: $theirs %"
awk -v a="$onion" -v b="$plain" 'BEGIN { if (b > 0) printf "onion_preview_cpu_vs_plain_1080p: %.2f ratio\n", a / b }'
awk -v a="$plain" -v b="$theirs" 'BEGIN { if (b > 0) printf "liveview_vs_ffplay_cpu_1080p_mjpeg: %.2f ratio\n", a / b }'
