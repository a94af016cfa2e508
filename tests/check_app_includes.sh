#!/usr/bin/env bash
# Fails when application code includes a Qt, FFmpeg or Linux header instead of the platform's.
set -u
top=${1:-.}
hits=$(grep -rnE '#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]|qt|libav|libsw|linux/|sys/|unistd|fcntl|sys/ioctl|kelvra/)' \
  "$top/app" "$top/capture" "$top/player" "$top/help" 2>/dev/null)
if [ -n "$hits" ]; then
  echo "Application code must include only the Windows headers and the C++ library:"
  echo "$hits"
  exit 1
fi
echo "application includes: only platform headers"
