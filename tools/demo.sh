#!/usr/bin/env bash
# Builds tarvic and runs its main job on the bench simulator: a simulated GPRS modem on
# COM1 and a simulated RS-485 device on COM4, published in a private port directory, with
# the tool wired to them. Press "ПУСК" and both checks run.
#
#   bash tools/demo.sh                 simulator, built-in answer for the web host
#   TARVIC_WEB=127.0.0.1:8080 bash tools/demo.sh
#                                      simulator, data connections go to that web server
#   bash tools/demo.sh --real          no simulator: the real serial ports
#   bash tools/demo.sh --installed     no build: the installed /usr/bin/tarvic and
#                                      /usr/bin/tarvic-sim
#
# Without a display it starts a virtual X server (Xvfb), presses "ПУСК" itself, saves a
# picture of each outcome box (tarvic-demo-1.png, -2.png in the current folder) and says
# what the boxes reported; then its exit status is 0 only when both boxes said OK.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
real=0
tarvic=./build/app/tarvic
sim=./build/sim/tarvic-sim
case "${1:-}" in
  --real) real=1 ;;
  --installed) tarvic=/usr/bin/tarvic sim=/usr/bin/tarvic-sim ;;
esac
if [ "${1:-}" != --installed ]; then
  bash tools/deps.sh
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target tarvic tarvic-sim
fi

pids=()
home=""
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "$home" ] && rm -rf "$home"
}
trap cleanup EXIT

if [ "$real" -eq 0 ]; then
  home=$(mktemp -d -t tarvic-demo-XXXXXX)
  "$sim" --config-home "$home" --web "${TARVIC_WEB:-builtin}" --verbose \
    2>"$home/sim.log" >"$home/sim.out" &
  pids+=($!)
  for _ in $(seq 100); do
    [ -e "$home/tarvic/ports/com1" ] && [ -e "$home/tarvic/ports/com4" ] && break
    sleep 0.05
  done
  cat "$home/sim.out"
  # The tool finds COMn: as comN of this port directory.
  export XDG_CONFIG_HOME="$home"
fi

if [ -n "${DISPLAY:-}" ]; then
  "$tarvic"
  exit 0
fi

# No display: a virtual one, and the walk-through a technician would do.
source tools/x11.sh
start_xvfb 99 || exit 1
pids+=("$xvfb_pid")
# The window must be on that X server, whatever platform a headless machine chose for Qt
# (QT_QPA_PLATFORM=offscreen draws it nowhere).
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
echo "No display: tarvic runs on the virtual X server $DISPLAY (Xvfb)."
toollog=$(mktemp -t tarvic-demo-tool-XXXXXX)
"$tarvic" 2>"$toollog" &
tool=$!
pids+=("$tool")

if ! dlg=$(wait_window '^tarvic GPRS$' 300); then
  if kill -0 "$tool" 2>/dev/null; then
    echo "the tool's window did not appear within 30 s; what tarvic said:"
  else
    status=0
    wait "$tool" || status=$?
    echo "tarvic ended with status $status before its window appeared; what it said:"
  fi
  sed 's/^/  /' "$toollog"
  rm -f "$toollog"
  exit 1
fi
rm -f "$toollog"
echo "Pressing ПУСК ..."
xdotool windowfocus --sync "$dlg" key Return
failed=0
for i in 1 2; do
  # A check takes a few seconds; a silent modem about 21 s.
  box=$(wait_window '^(OK|ERROR)$' 400) || { echo "no outcome box appeared"; exit 1; }
  sleep 0.3
  xwd -root -silent | convert xwd:- -trim "$here/tarvic-demo-$i.png"
  caption=$(xdotool getwindowname "$box")
  what=$([ "$i" = 1 ] && echo "GPRS modem" || echo "RS-485 line")
  if [ "$caption" = OK ]; then verdict="works"; else verdict="does NOT work" failed=1; fi
  echo "Box $i ($caption): the $what $verdict. Picture: $here/tarvic-demo-$i.png"
  xdotool windowfocus --sync "$box" key Return
  for _ in $(seq 50); do [ -z "$(window '^(OK|ERROR)$')" ] && break; sleep 0.1; done
done
if [ "$real" -eq 0 ]; then
  echo "What the simulator saw:"
  sed 's/^/  /' "$home/sim.log"
fi
xdotool windowfocus --sync "$dlg" key Escape
wait "$tool" || true
exit "$failed"
