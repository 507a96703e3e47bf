#!/usr/bin/env bash
# A whole check run of tarvic.exe under Wine, on a virtual X server, against tarvic-sim,
# driven as a person would: the window is found by its title, keys go to it, the outcome
# boxes are found by their captions and dismissed with Enter.
#
#   check_run.sh MODE TARVIC_EXE TARVIC_SIM SHIM PORTS
#     pass      Enter runs both checks: a box "OK" after the GPRS check, then another
#               after the RS-485 check, and the simulator saw both exchanges
#     no-port   COM1 leads nowhere: START cannot open it and says so in an "ERROR" box
#     escape    Esc during the GPRS check ends the run within 1 s and closes the window
#   PORTS is the folder that the Wine prefix maps COMn to (see tools/wine-run.sh).
set -euo pipefail
mode=$1 exe=$2 sim=$3 shim=$4 ports=$5
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../tools/wine-run.sh
prefix=$(dirname "$ports")

pids=()
home=$(mktemp -d)
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$home/sim.log" ] && sed 's/^/  sim: /' "$home/sim.log"; exit 1; }
now() { date +%s%N; }
ms_since() { echo $((($(now) - $1) / 1000000)); }

n=120
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done

"$sim" --config-home "$home" --verbose 2>"$home/sim.log" >/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -e "$home/tarvic/ports/com1" ] && [ -e "$home/tarvic/ports/com4" ] && break; sleep 0.05; done
[ "$mode" = no-port ] && rm "$home/tarvic/ports/com1"
rm -rf "$ports"
ln -s "$home/tarvic/ports" "$ports"

window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
wait_window() {  # pattern, tenths of a second
  for _ in $(seq "$2"); do
    w=$(window "$1")
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
# Dismisses the box that is up and waits until it has gone.
dismiss() {
  xdotool windowfocus --sync "$1" key Return
  for _ in $(seq 50); do [ -z "$(window '^(OK|ERROR)$')" ] && return 0; sleep 0.1; done
  fail "the box did not go"
}

start=$(now)
LD_PRELOAD=$shim bash "$wine_run" "$prefix" "$exe" >/dev/null 2>&1 &
tool=$!
pids+=("$tool")
dlg=$(wait_window '^tarvic GPRS$' 300) || fail "the window did not appear"
echo "window after $(ms_since "$start") ms"
sleep 0.3  # the dialog has its focus
xdotool windowfocus --sync "$dlg" key Return

case "$mode" in
  pass)
    for check in GPRS RS-485; do
      box=$(wait_window '^(OK|ERROR)$' 400) || fail "no box after the $check check"
      caption=$(xdotool getwindowname "$box")
      echo "$check check: box \"$caption\""
      [ "$caption" = OK ] || fail "the $check check failed"
      dismiss "$box"
    done
    grep -q 'COM1 modem: hang-up: built-in web answer sent' "$home/sim.log" || fail "no web exchange"
    grep -q 'COM4 rs485: frame of 10 bytes' "$home/sim.log" || fail "no RS-485 frame"
    ;;
  no-port)
    box=$(wait_window '^(OK|ERROR)$' 100) || fail "no box"
    caption=$(xdotool getwindowname "$box")
    echo "box \"$caption\""
    [ "$caption" = ERROR ] || fail "expected the ERROR box"
    dismiss "$box"
    grep -q 'port opened' "$home/sim.log" && fail "a port was opened"
    ;;
  escape)
    for _ in $(seq 100); do grep -q 'COM1 modem: <- AT' "$home/sim.log" && break; sleep 0.05; done
    grep -q 'COM1 modem: <- AT' "$home/sim.log" || fail "the GPRS check did not start"
    sleep 0.5
    esc=$(now)
    xdotool windowfocus --sync "$dlg" key Escape
    # The run has ended when the tool has let go of the modem's port.
    for _ in $(seq 300); do grep -q 'COM1 modem: port closed' "$home/sim.log" && break; sleep 0.01; done
    ended=$(ms_since "$esc")
    grep -q 'COM1 modem: port closed' "$home/sim.log" || fail "the run did not end"
    echo "run ended $ended ms after Esc"
    [ "$ended" -lt 1000 ] || fail "Esc took $ended ms to end the run"
    # Wine waits up to 2 s for a window manager to take a hidden window away; there is none.
    for _ in $(seq 100); do [ -z "$(window '^tarvic GPRS$')" ] && break; sleep 0.05; done
    [ -z "$(window '^tarvic GPRS$')" ] || fail "the window is still there"
    echo "window gone $(ms_since "$esc") ms after Esc"
    ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac

xdotool windowfocus --sync "$dlg" key Escape 2>/dev/null || true
for _ in $(seq 100); do kill -0 "$tool" 2>/dev/null || break; sleep 0.1; done
kill -0 "$tool" 2>/dev/null && fail "tarvic.exe did not end"
echo "tarvic.exe ended $(ms_since "$start") ms after its start"
exit 0
