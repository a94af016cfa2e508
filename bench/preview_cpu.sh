#!/usr/bin/env bash
# CPU of the live preview, the whole program for 20 s under Xvfb next to ffplay on the same server:
# - previewing the test source (640x480, 30 fps), against ffplay showing FFmpeg's testsrc2 at the
#   same size and rate;
# - previewing the simulated USB webcam (LD_PRELOAD) streaming MJPEG 1920x1080 at 30 fps, against
#   ffplay showing the same camera through FFmpeg's V4L2 input in a window of the preview's size.
#   Both decode every JPEG; the simulator's own cost (a copy per frame) counts in both.
# CPU is user + system time from /proc/<pid>/stat over the measured span, in percent of one core.
# Usage: bench/preview_cpu.sh [build-dir]
set -u
build=${1:-build}
program="$build/kelvra"
sim="$build/tests/libkelvra_uvc_sim.so"
seconds=${PREVIEW_SECONDS:-20}
warmup=2

for built in "$program" "$sim"; do
  if [ ! -f "$built" ]; then
    echo "preview_cpu: $built not built" >&2
    exit 1
  fi
done
for tool in Xvfb ffplay xdpyinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "preview_cpu: $tool missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

name=preview_cpu
source "$(dirname "$0")/xvfb_cpu.bash"
start_xvfb 91 120 1280x1024x24

# Starts a command, measures it, ends it. It runs in a command substitution, so it ends what it
# started itself.
measure() {
  "$@" >/dev/null 2>&1 &
  local pid=$! status
  measure_pid "$pid"
  status=$?
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return $status
}

ours=$(measure env QT_QPA_PLATFORM=xcb KELVRA_CAPTURE_DRIVERS=test "$program") || exit 1
theirs=$(measure env SDL_AUDIODRIVER=dummy \
  ffplay -hide_banner -loglevel error -an -f lavfi -i testsrc2=size=640x480:rate=30) || exit 1

echo "preview_cpu_percent: $ours %"
echo "ffplay_cpu_percent: $theirs %"
awk -v a="$ours" -v b="$theirs" 'BEGIN { if (b > 0) printf "preview_vs_ffplay_cpu: %.2f ratio\n", a / b }'

camera="KELVRA_UVC_SIM_PROFILE=webcam1080p KELVRA_UVC_SIM_FORMAT=MJPG:1920x1080@30 LD_PRELOAD=$sim"
ours=$(measure env -u KELVRA_CAPTURE_DRIVERS QT_QPA_PLATFORM=xcb $camera "$program") || exit 1
theirs=$(measure env -u KELVRA_CAPTURE_DRIVERS SDL_AUDIODRIVER=dummy $camera \
  ffplay -hide_banner -loglevel error -an -f v4l2 -input_format mjpeg -video_size 1920x1080 -framerate 30 \
  -x 200 -y 112 /dev/video0) || exit 1

echo "preview_cpu_percent_1080p_mjpeg: $ours %"
echo "ffplay_cpu_percent_1080p_mjpeg: $theirs %"
awk -v a="$ours" -v b="$theirs" 'BEGIN { if (b > 0) printf "preview_vs_ffplay_cpu_1080p_mjpeg: %.2f ratio\n", a / b }'
