#!/usr/bin/env bash
# Builds tarvic and starts it. On a machine without a display it starts a virtual X server
# (Xvfb) for the tool and says so; TARVIC_SCREENSHOT=file.png then saves a picture of it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarvic

xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  n=99
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
    n=$((n + 1))
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  echo "No display: tarvic runs on the virtual X server $DISPLAY (Xvfb)."
  echo "Screenshot: DISPLAY=$DISPLAY xwd -root -silent | convert xwd:- tarvic.png"
fi

if [ -n "${TARVIC_SCREENSHOT:-}" ]; then
  ./build/app/tarvic &
  app_pid=$!
  sleep "${TARVIC_SCREENSHOT_DELAY:-2}"
  xwd -root -silent | convert xwd:- -trim "$TARVIC_SCREENSHOT"
  echo "Saved $TARVIC_SCREENSHOT"
  wait "$app_pid"
else
  ./build/app/tarvic
fi
