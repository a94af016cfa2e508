#!/usr/bin/env bash
# The real program on the simulated USB webcam (LD_PRELOAD), driven by the keyboard, one
# simulator profile per run; the file is read back with ffprobe and the camera's own notes in
# each JPEG ("kelvra-uvc-sim frame=N node=videoN auto_exposure=.. exposure=.. awb=.. wb=..").
#   webcam1080p  1280x720 MJPEG chosen in the Video Format dialog and recorded: every frame is the
#                camera's JPEG as it came
#   unplug       exposure and white balance locked in the Video Source dialog; the camera goes
#                away during the recording and comes back as /dev/video2 with its defaults: the
#                frames before stay, recording goes on, every frame keeps the locked exposure
#   corrupt      broken camera pictures are refused: the file holds only whole JPEGs
#   dark         the camera slows to 2 fps in the dark; one frame a second is still recorded
#   continue     1280x720 MJPEG recorded, the program ended; started again with a device that kept
#                nothing, the same file chosen: it says it continues, REC adds to it at its size
# Usage: webcam_recording.sh kelvra libkelvra_uvc_sim.so profile
set -euo pipefail
program=$1
sim=$2
profile=$3
export KELVRA_UVC_SIM_PROFILE=$profile KELVRA_UVC_SIM_FORMAT=MJPG:1280x720@30
# The first run chooses its format in the Video Format dialog.
[ "$profile" = webcam1080p ] || [ "$profile" = continue ] && unset KELVRA_UVC_SIM_FORMAT
unset KELVRA_CAPTURE_DRIVERS
source "$(dirname "$0")/session.sh"

# The screen as it is, into KELVRA_SHOTS_DIR when that is set.
shot() {
  [ -n "${KELVRA_SHOTS_DIR:-}" ] || return 0
  mkdir -p "$KELVRA_SHOTS_DIR"
  ffmpeg -v error -y -f x11grab -video_size 1024x768 -i "$DISPLAY" -frames:v 1 "$KELVRA_SHOTS_DIR/e2e-webcam-$profile-$1.png" || true
}

fail() { echo "$profile: $*"; shot failure; tail -20 "$work/program.log" 2>/dev/null; exit 1; }

# Focus on REC: 5 tabs to Video Source. In the dialog the focus starts on Brightness; the
# controls follow in the camera's order, each manual value below its automatic mode; inactive
# ones are skipped by Tab.
lock_exposure_and_white_balance() {
  tabs 5
  xdotool key space
  timeout 10 xdotool search --sync --onlyvisible --name "^Video Source$" >/dev/null || fail "no Video Source dialog"
  sleep 0.3
  tabs 4; xdotool key space        # White Balance, Automatic: off
  tabs 1; xdotool key End          # White Balance Temperature, just below (now active): 6500
  tabs 5; xdotool key Up           # Auto Exposure: Manual Mode
  tabs 1; xdotool key Home         # Exposure Time, Absolute, just below (now active): 3
  shot source-dialog
  xdotool key Return
  sleep 0.5
  xdotool search --onlyvisible --name "^Video Source$" >/dev/null && fail "the Video Source dialog stayed open"
  # With no window manager nobody gives the focus back to the main window; its Video Source
  # button still has the window's focus.
  xdotool windowfocus --sync "$window"
  tabs 4                           # Video Source -> Speed Fps
  shot after-dialog
}

# Focus on REC: 6 tabs to Video Format. The camera starts in YUYV 640x480; the dialog's focus
# starts on the pixel format: Motion-JPEG below YUYV, then its second size, 1280 x 720, at its
# first rate, 30 fps.
choose_mjpeg_720p() {
  tabs 6
  xdotool key space
  timeout 10 xdotool search --sync --onlyvisible --name "^Video Format$" >/dev/null || fail "no Video Format dialog"
  sleep 0.3
  xdotool key Down
  tabs 1; xdotool key Down
  shot format-dialog
  xdotool key Return
  sleep 1
  xdotool search --onlyvisible --name "^Video Format$" >/dev/null && fail "the Video Format dialog stayed open"
  xdotool windowfocus --sync "$window"
  tabs 3                           # Video Format -> Speed Fps
}

# From Speed Fps: 10 fps, one frame every second, recording.
record() {
  xdotool key ctrl+a; xdotool type --delay 40 "10"
  tabs 2
  xdotool key ctrl+a; xdotool type --delay 40 "1"
  xdotool key Return
}

stop_and_exit() {
  xdotool key Escape
  tabs 11
  xdotool key space
  sleep 0.5
  xdotool key Return
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "the program did not end after Yes"
  wait "$pid" || true
}

probe() { ffprobe -v error -select_streams v:0 -show_entries "stream=$1" -of csv=p=0 "$file"; }
frames_of() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$file"; }
notes() { grep -ao 'kelvra-uvc-sim frame=[0-9]* node=video[0-9]* auto_exposure=[0-9]* exposure=[0-9]* awb=[0-9]* wb=[0-9]*' "$file" || true; }

# Every frame decodes, and the camera's frame numbers only go up.
check_file() {
  [ -f "$file" ] || fail "no capture file"
  [ "$(probe codec_name),$(probe width),$(probe height)" = "mjpeg,1280,720" ] || fail "not 1280x720 MJPEG"
  frames=$(frames_of)
  errors=$(ffmpeg -v error -xerror -i "$file" -f null - 2>&1 | wc -l)
  [ "$errors" = 0 ] || fail "the file does not decode cleanly"
  count=$(notes | wc -l)
  [ "$count" = "$frames" ] || fail "$frames frames but $count camera JPEGs in the file"
  notes | sed 's/.*frame=\([0-9]*\).*/\1/' | sort -n -c -u 2>/dev/null || fail "camera frames out of order"
  echo "$profile: $frames frames"
}

# The camera goes away two seconds into the recording (it streams from the program's start).
export KELVRA_UVC_SIM_UNPLUG_AFTER_MS=8000 KELVRA_UVC_SIM_AWAY_MS=2000
# Broken pictures: one in seven, and all of them for two seconds in the middle of the recording.
export KELVRA_UVC_SIM_BURST_FROM_MS=5000 KELVRA_UVC_SIM_BURST_UNTIL_MS=7000
start_program LD_PRELOAD="$sim"
case $profile in
  webcam1080p)
    choose_mjpeg_720p; record; sleep 5.5; stop_and_exit; check_file
    [ "$frames" -ge 4 ] && [ "$frames" -le 6 ] || fail "expected 5 frames, got $frames"
    ;;
  dark)
    tabs 9; record; sleep 5.5; stop_and_exit; check_file
    [ "$frames" -ge 4 ] && [ "$frames" -le 6 ] || fail "expected 5 frames, got $frames"
    ;;
  corrupt)
    # The frame steps in the burst fail and are reported; the frames before and after stay.
    tabs 9; record; sleep 5.5
    shot notice
    xdotool search --onlyvisible --name "^Capture (Device|File)$" >/dev/null || fail "no notice of the refused pictures"
    shot notice
    stop_and_exit; check_file
    [ "$frames" -ge 2 ] && [ "$frames" -le 4 ] || fail "expected 1 to 3 of 5 frame steps to fail, got $frames frames"
    ;;
  unplug)
    lock_exposure_and_white_balance; record; sleep 9.5; stop_and_exit; check_file
    [ "$frames" -ge 5 ] || fail "expected frames before and after the camera was away, got $frames"
    before=$(notes | grep -c 'node=video0 ' || true); after=$(notes | grep -c 'node=video2 ' || true)
    echo "$profile: $before frames from /dev/video0, $after from /dev/video2 after the camera came back"
    [ "$before" -ge 2 ] && [ "$after" -ge 2 ] || fail "expected frames from both sides of the camera's absence"
    [ "$(notes | grep -vc 'auto_exposure=1 exposure=3 awb=0 wb=6500')" = 0 ] || {
      notes; fail "a frame without the locked exposure and white balance"; }
    ;;
  continue)
    choose_mjpeg_720p; record; sleep 3.5; stop_and_exit
    first=$(frames_of)
    [ "$first" -ge 2 ] || fail "the first run recorded $first frames"
    rm -f "$HOME/.config/kelvra/devices.json"  # only the file itself tells how it was made
    start_program LD_PRELOAD="$sim"
    tabs 17; xdotool key space               # REC -> CaptureFile
    timeout 10 xdotool search --sync --onlyvisible --name "^Create Capture File$" >/dev/null || fail "no file chooser"
    sleep 0.3
    xdotool key ctrl+a; xdotool type --delay 20 "$file"; xdotool key Return
    sleep 1
    grep -q "continues capture.avi: 1280x720 Motion JPEG, $first frames" "$file.log" ||
      { cat "$file.log"; fail "the journal does not say the recording continues"; }
    shot continues
    xdotool windowfocus --sync "$window"
    tabs 15                                  # CaptureFile -> Speed Fps
    record; sleep 3.5; stop_and_exit
    [ "$(probe codec_name),$(probe width),$(probe height)" = "mjpeg,1280,720" ] || fail "not 1280x720 MJPEG"
    frames=$(frames_of)
    errors=$(ffmpeg -v error -xerror -i "$file" -f null - 2>&1 | wc -l)
    [ "$errors" = 0 ] || fail "the continued file does not decode cleanly"
    echo "$profile: $first frames, then $frames after continuing"
    [ "$frames" -ge $((first + 2)) ] || fail "REC added $((frames - first)) frames to the continued file"
    ;;
  *) fail "unknown profile" ;;
esac
echo "end-to-end webcam ($profile): passed"
