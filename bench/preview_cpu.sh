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
ticks=$(getconf CLK_TCK)

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

started=()
cleanup() {
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null
  done
  wait 2>/dev/null
}
trap cleanup EXIT

display=""
for n in $(seq 91 120); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 50); do
    DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && display=":$n" && break
    sleep 0.1
  done
  [ -n "$display" ] && break
done
if [ -z "$display" ]; then
  echo "preview_cpu: no Xvfb display could be started" >&2
  exit 1
fi

# CPU ticks (user + system) of a process; the command name may hold spaces, so cut after ')'.
cpu_ticks() {
  local rest
  rest=$(sed 's/^.*) //' "/proc/$1/stat") || return 1
  set -- $rest
  echo $(( ${12} + ${13} ))
}

# Starts a command, lets it settle, measures it for $seconds, prints its CPU percent. It runs in
# a command substitution, so it ends what it started itself.
measure() {
  "$@" >/dev/null 2>&1 &
  local pid=$!
  local t0 c0 t1 c1
  sleep "$warmup"
  c0=$(cpu_ticks "$pid" 2>/dev/null)
  t0=$(date +%s.%N)
  sleep "$seconds"
  c1=$(cpu_ticks "$pid" 2>/dev/null)
  t1=$(date +%s.%N)
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if [ -z "$c0" ] || [ -z "$c1" ]; then
    echo "preview_cpu: '$*' ended early" >&2
    return 1
  fi
  awk -v c="$((c1 - c0))" -v hz="$ticks" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.1f\n", 100 * c / hz / (t1 - t0) }'
}

ours=$(measure env DISPLAY="$display" QT_QPA_PLATFORM=xcb KELVRA_CAPTURE_DRIVERS=test "$program") || exit 1
theirs=$(measure env DISPLAY="$display" SDL_AUDIODRIVER=dummy \
  ffplay -hide_banner -loglevel error -an -f lavfi -i testsrc2=size=640x480:rate=30) || exit 1

echo "preview_cpu_percent: $ours %"
echo "ffplay_cpu_percent: $theirs %"
awk -v a="$ours" -v b="$theirs" 'BEGIN { if (b > 0) printf "preview_vs_ffplay_cpu: %.2f ratio\n", a / b }'

camera="KELVRA_UVC_SIM_PROFILE=webcam1080p KELVRA_UVC_SIM_FORMAT=MJPG:1920x1080@30 LD_PRELOAD=$sim"
ours=$(measure env -u KELVRA_CAPTURE_DRIVERS DISPLAY="$display" QT_QPA_PLATFORM=xcb $camera "$program") || exit 1
theirs=$(measure env -u KELVRA_CAPTURE_DRIVERS DISPLAY="$display" SDL_AUDIODRIVER=dummy $camera \
  ffplay -hide_banner -loglevel error -an -f v4l2 -input_format mjpeg -video_size 1920x1080 -framerate 30 \
  -x 200 -y 112 /dev/video0) || exit 1

echo "preview_cpu_percent_1080p_mjpeg: $ours %"
echo "ffplay_cpu_percent_1080p_mjpeg: $theirs %"
awk -v a="$ours" -v b="$theirs" 'BEGIN { if (b > 0) printf "preview_vs_ffplay_cpu_1080p_mjpeg: %.2f ratio\n", a / b }'
