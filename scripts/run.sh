#!/usr/bin/env bash
# Starts the program on the desktop; without a display it says how to get one.
set -eu
program=$1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found (DISPLAY is not set). Start the program from a desktop session, or"
  echo "under a virtual one:  xvfb-run -a $program"
  exit 1
fi
exec "$program"
