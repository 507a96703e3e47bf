#!/usr/bin/env bash
# A whole check run of tarvic.exe under Wine, on a virtual X server, against tarvic-sim,
# driven as a person would: the window is found by its title, keys go to it, the outcome
# boxes are found by their captions and dismissed with Enter.
#
#   check_run.sh MODE TARVIC_EXE TARVIC_SIM SHIM PORTS
#     pass      Enter runs both checks: a box "OK" after the GPRS check, then another
#               after the RS-485 check, and the simulator saw both exchanges; it says how
#               long each box took (from Enter, and from the first box's dismissal)
#     no-port   COM1 leads nowhere: START cannot open it and says so in an "ERROR" box
#     escape    Esc during the GPRS check ends the run within 1 s and closes the window
#     silent    the modem answers nothing: "ERROR" after the GPRS check's 21 reads, then "OK"
#     activation-error
#               the modem refuses the context activation every time; Esc ends the run
#     runs-31   a passing run beside 30 older transcripts and a file of the user's: the
#               oldest transcript goes, the user's file stays
#     unwritable
#               the transcripts' folder cannot be made: both boxes as always
#   The modes up to here also read the run's transcript (%LOCALAPPDATA%\tarvic\runs\ of
#   the prefix): the boxes, the run's end and the failing step.
#     escape-box     the close box, clicked while the GPRS check's outcome box is up, ends
#                    the program
#     escape-rs485   Esc while the RS-485 check waits for a silent device ends it
#     far-end-gone   the modem goes away in the middle of the AT script: the failure
#                    boxes come, and once it is back a second run on the same port passes
#     port-file, port-folder   COM1 leads to a file or a folder: the open-failure box at
#                    once, and START can be pressed again (the inputs are enabled)
#     start-20       START pressed 20 times during a run makes one run
#     runs-20        20 passing runs in one process; the process's memory and descriptors
#                    after each run, which must stay flat
#     typed-open, typed-closed   COM1 leads nowhere and COM3 to the modem; "COM3" typed
#                    into the GPRS port field, with its list open (then closed with
#                    Enter) or closed, chooses no port: START says it cannot open one
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
fail() {
  echo "FAIL: $*"
  [ -f "$home/sim.log" ] && sed 's/^/  sim: /' "$home/sim.log"
  [ -f "$home/wine.log" ] && sed 's/^/  wine: /' "$home/wine.log"
  exit 1
}
now() { date +%s%N; }
ms_since() { echo $((($(now) - $1) / 1000000)); }

# The session's display (tools/wine-session.sh), where Wine's desktop already is; else one
# of our own.
source "$here/../../tools/x11.sh"
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb 120
  pids+=("$xvfb_pid")
fi

sim_args=()
case "$mode" in
  silent) sim_args=(--silent-modem) ;;
  activation-error) sim_args=(--error 1000:AT#SGACT=1,1) ;;
  escape-rs485) sim_args=(--rs485-silent) ;;
  # Time to press START while the RS-485 check runs.
  start-20) sim_args=(--rs485-turnaround 1500) ;;
esac
start_sim() {
  "$sim" --config-home "$home" --verbose "${sim_args[@]}" 2>>"$home/sim.log" >/dev/null &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 100); do [ -e "$home/tarvic/ports/com1" ] && [ -e "$home/tarvic/ports/com4" ] && break; sleep 0.05; done
}
start_sim
case "$mode" in
  no-port) rm "$home/tarvic/ports/com1" ;;
  port-file) rm "$home/tarvic/ports/com1" && echo "not a port" >"$home/tarvic/ports/com1" ;;
  port-folder) rm "$home/tarvic/ports/com1" && mkdir "$home/tarvic/ports/com1" ;;
  typed-*) mv "$home/tarvic/ports/com1" "$home/tarvic/ports/com3" ;;
esac
rm -rf "$ports"
ln -s "$home/tarvic/ports" "$ports"

# Dismisses the box and waits until it has gone (the next box may already be up).
dismiss() {
  xdotool windowfocus --sync "$1" key Return
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^(OK|ERROR)$' 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.1
  done
  fail "the box did not go"
}
# Waits for a box with this caption (within N tenths of a second) and dismisses it.
expect_box() {
  local box caption
  box=$(wait_window '^(OK|ERROR)$' "$2") || fail "no box ($3)"
  caption=$(xdotool getwindowname "$box")
  [ "$caption" = "$1" ] || fail "a box \"$caption\", not \"$1\" ($3)"
  echo "$3: box \"$caption\" after $(ms_since "$since") ms"
  dismiss "$box"
  since=$(now)
}
# After Esc (or the close box): the window goes within 1 s (Wine itself takes up to 2 s
# more to end the process without a window manager), and tarvic.exe ends with status 0.
expect_end() {
  for _ in $(seq 100); do [ -z "$(window '^tarvic GPRS$')" ] && break; sleep 0.01; done
  gone=$(ms_since "$esc")
  [ -z "$(window '^tarvic GPRS$')" ] || fail "the window is still there $gone ms after $1"
  echo "window gone $gone ms after $1"
  for _ in $(seq 100); do kill -0 "$tool" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$tool" 2>/dev/null && fail "tarvic.exe still runs $(ms_since "$esc") ms after $1"
  wait "$tool" || fail "tarvic.exe ended with status $?"
  echo "tarvic.exe ended $(ms_since "$esc") ms after $1, status 0"
  exit 0
}
count() { grep -c -- "$1" "$home/sim.log" || true; }
# The memory and descriptors of the Wine process that runs tarvic.exe.
figures() {
  echo "$(awk '/^VmRSS/ {print $2}' "/proc/$tool/status") kB, $(ls "/proc/$tool/fd" | wc -l) descriptors"
}

# The prefix's own transcripts, made by earlier runs of these tests only.
runs_of_prefix() { find "$prefix/drive_c/users" -type d -path '*/AppData/Local/tarvic/runs' 2>/dev/null; }
for d in $(runs_of_prefix); do rm -f "$d"/*.txt; done
# The prefix user's %LOCALAPPDATA%, made by Wine with the prefix.
local_app_data() {
  local user
  user=$(find "$prefix/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
  echo "$user/AppData/Local"
}
runs="$(local_app_data)/tarvic/runs"
case "$mode" in
  runs-31)
    mkdir -p "$runs"
    for i in $(seq -w 0 29); do echo "an earlier run" >"$runs/2020-01-01_00-00-$i.txt"; done
    echo "the technician's own file" >"$runs/notes.txt"
    ;;
  unwritable)
    rm -rf "$(local_app_data)/tarvic"
    echo "not a folder" >"$(local_app_data)/tarvic"
    ;;
esac
# The transcript of this run, once its end is written.
transcript() {
  local f=""
  for _ in $(seq 50); do
    f=$(find "$prefix/drive_c/users" -path '*/AppData/Local/tarvic/runs/20*.txt' 2>/dev/null | sort | tail -n 1)
    [ -n "$f" ] && grep -q '^end: ' "$f" && { echo "$f"; return 0; }
    sleep 0.1
  done
  return 1
}
expect_line() { grep -qF -- "$2" "$1" || { sed 's/^/  transcript: /' "$1"; fail "no line with \"$2\" in the transcript"; }; }

start=$(now)
LD_PRELOAD=$shim bash "$wine_run" "$prefix" "$exe" >"$home/wine.log" 2>&1 &
tool=$!
pids+=("$tool")
dlg=$(wait_window '^tarvic GPRS$' 300) || fail "the window did not appear"
echo "window after $(ms_since "$start") ms"
sleep 0.3  # the dialog has its focus
case "$mode" in
  typed-open | typed-closed)
    # From START to the GPRS port field, as a person would with Tab.
    xdotool windowfocus --sync "$dlg" key Tab Tab
    [ "$mode" = typed-open ] && xdotool key F4 && sleep 0.3
    xdotool key ctrl+a BackSpace type COM3
    # With the list open, the first Enter closes it.
    [ "$mode" = typed-open ] && xdotool key Return && sleep 0.3
    ;;
esac
since=$(now)
xdotool windowfocus --sync "$dlg" key Return

# The two outcome boxes, with the captions given, each dismissed.
expect_boxes() {
  expect_box "$1" 400 "GPRS check"
  expect_box "$2" 400 "RS-485 check"
}

case "$mode" in
  pass | runs-31 | unwritable)
    expect_boxes OK OK
    grep -q 'COM1 modem: hang-up: built-in web answer sent' "$home/sim.log" || fail "no web exchange"
    grep -q 'COM4 rs485: frame of 10 bytes' "$home/sim.log" || fail "no RS-485 frame"
    if [ "$mode" = unwritable ]; then
      [ -f "$(local_app_data)/tarvic" ] || fail "the file in the transcripts' place was changed"
      rm -f "$(local_app_data)/tarvic"
      echo "no transcript, and the checks as always"
    else
      t=$(transcript) || fail "no transcript"
      expect_line "$t" 'GPRS modem: COM1, 9600 baud'
      expect_line "$t" '  > AT#SD=1,0,80,example.com\r\n'
      expect_line "$t" 'box: OK "GPRS проверен"'
      expect_line "$t" 'box: OK "485 проверен"'
      expect_line "$t" 'end: the run is over'
    fi
    if [ "$mode" = runs-31 ]; then
      kept=$(find "$runs" -name '20*.txt' | wc -l)
      echo "transcripts kept: $kept"
      [ "$kept" -eq 30 ] || fail "$kept transcripts kept, not 30"
      [ -e "$runs/2020-01-01_00-00-00.txt" ] && fail "the oldest transcript is still there"
      [ -e "$runs/notes.txt" ] || fail "the user's file was removed"
      rm -f "$runs/notes.txt"
    fi
    ;;
  no-port)
    box=$(wait_window '^(OK|ERROR)$' 100) || fail "no box"
    caption=$(xdotool getwindowname "$box")
    echo "box \"$caption\""
    [ "$caption" = ERROR ] || fail "expected the ERROR box"
    dismiss "$box"
    grep -q 'port opened' "$home/sim.log" && fail "a port was opened"
    t=$(transcript) || fail "no transcript"
    expect_line "$t" '  COM1: '
    expect_line "$t" 'box: ERROR "Не удается открыть COM порт"'
    expect_line "$t" 'end: the GPRS port could not be opened'
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
    t=$(transcript) || fail "no transcript"
    expect_line "$t" '  > AT\r\n'
    expect_line "$t" 'end: the window was closed during the run'
    ;;
  silent)
    expect_boxes ERROR OK
    t=$(transcript) || fail "no transcript"
    expect_line "$t" '  > AT\r\n'
    expect_line "$t" 'box: ERROR "Нет связи GPRS"'
    expect_line "$t" 'box: OK "485 проверен"'
    expect_line "$t" 'end: the run is over'
    ;;
  activation-error)
    for _ in $(seq 200); do grep -q 'COM1 modem: -> .*ERROR' "$home/sim.log" && break; sleep 0.05; done
    grep -q 'COM1 modem: -> .*ERROR' "$home/sim.log" || fail "the activation was not refused"
    sleep 0.5
    xdotool windowfocus --sync "$dlg" key Escape
    for _ in $(seq 100); do [ -z "$(window '^tarvic GPRS$')" ] && break; sleep 0.05; done
    [ -z "$(window '^tarvic GPRS$')" ] || fail "the window is still there"
    t=$(transcript) || fail "no transcript"
    expect_line "$t" '  > AT#SGACT=1,1\r\n'
    grep -A1 -F '  > AT#SGACT=1,1\r\n' "$t" | grep -qE '^ *[0-9]+  ERROR$' ||
      { sed 's/^/  transcript: /' "$t"; fail "no ERROR after the activation in the transcript"; }
    expect_line "$t" 'end: the window was closed during the run'
    ;;
  escape-box)
    box=$(wait_window '^(OK|ERROR)$' 400) || fail "no box after the GPRS check"
    # Under Wine without a window manager the box keeps the keyboard, so Esc cannot reach
    # the dialog while a box is up; its close box, which ends it the same way, can.
    eval "$(xdotool getwindowgeometry --shell "$dlg")"
    echo "dialog at $X,$Y, $WIDTH x $HEIGHT"
    esc=$(now)
    xdotool mousemove $((X + WIDTH - 12)) $((Y + 12)) click 1
    expect_end "the close box"
    ;;
  escape-rs485)
    expect_box OK 400 "GPRS check"
    for _ in $(seq 100); do grep -q 'COM4 rs485: frame of 10 bytes' "$home/sim.log" && break; sleep 0.05; done
    grep -q 'COM4 rs485: frame of 10 bytes' "$home/sim.log" || fail "the RS-485 check did not start"
    sleep 0.5 # well inside its 5 s wait
    esc=$(now)
    xdotool windowfocus --sync "$dlg" key Escape
    expect_end Esc
    ;;
  far-end-gone)
    for _ in $(seq 100); do grep -q 'COM1 modem: <- ATE0' "$home/sim.log" && break; sleep 0.05; done
    grep -q 'COM1 modem: <- ATE0' "$home/sim.log" || fail "the AT script did not start"
    kill "$sim_pid"
    wait "$sim_pid" 2>/dev/null || true
    expect_box ERROR 400 "GPRS check, modem gone"
    expect_box ERROR 100 "RS-485 check, device gone"
    start_sim
    echo "the simulator is back"
    xdotool windowfocus --sync "$dlg" key Return
    expect_box OK 400 "second run, GPRS check"
    expect_box OK 400 "second run, RS-485 check"
    [ "$(count 'COM1 modem: hang-up: built-in web answer sent')" = 1 ] || fail "no web exchange"
    ;;
  port-file | port-folder)
    expect_box ERROR 20 "START on a $mode"
    xdotool windowfocus --sync "$dlg" key Return
    expect_box ERROR 20 "START again"
    ;;
  start-20)
    for _ in $(seq 100); do grep -q 'COM1 modem: <- AT' "$home/sim.log" && break; sleep 0.05; done
    for _ in $(seq 10); do xdotool windowfocus --sync "$dlg" key Return; sleep 0.02; done
    expect_box OK 400 "GPRS check"
    for _ in $(seq 100); do grep -q 'COM4 rs485: frame of 10 bytes' "$home/sim.log" && break; sleep 0.02; done
    # START is enabled again while the RS-485 check runs; it still does nothing.
    for _ in $(seq 10); do xdotool windowfocus --sync "$dlg" key Return; sleep 0.02; done
    expect_box OK 400 "RS-485 check"
    sleep 1
    [ -z "$(window '^(OK|ERROR)$')" ] || fail "a box came after the run"
    opened=$(count 'COM1 modem: port opened')
    echo "START pressed 21 times: the modem's port opened $opened time(s)"
    # The RS-485 check's answer came only after the presses, so they fell inside it.
    grep -q 'COM4 rs485: frame of 10 bytes' "$home/sim.log" || fail "no RS-485 frame"
    [ "$opened" = 1 ] || fail "more than one run"
    ;;
  runs-20)
    for run in $(seq 20); do
      [ "$run" -gt 1 ] && xdotool windowfocus --sync "$dlg" key Return
      expect_box OK 400 "run $run, GPRS check" >/dev/null
      expect_box OK 400 "run $run, RS-485 check" >/dev/null
      read -r rss _ fds _ <<<"$(figures)"
      echo "after run $run: $rss kB, $fds descriptors"
      rsses+=("$rss")
      fdss+=("$fds")
    done
    [ "$(count 'COM1 modem: hang-up: built-in web answer sent')" = 20 ] || fail "not 20 web exchanges"
    # Flat: no descriptor more after run 20 than after run 2, and no memory climb beyond
    # what a heap grows by at first.
    [ "${fdss[19]}" -le "${fdss[1]}" ] || fail "descriptors grew from ${fdss[1]} to ${fdss[19]}"
    [ $((rsses[19] - rsses[4])) -lt 2048 ] || fail "memory grew from ${rsses[4]} to ${rsses[19]} kB"
    ;;
  typed-open | typed-closed)
    expect_box ERROR 100 "\"COM3\" typed, list ${mode#typed-}"
    grep -q 'port opened' "$home/sim.log" && fail "a port was opened: the typed text chose it"
    ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac

xdotool windowfocus --sync "$dlg" key Escape 2>/dev/null || true
for _ in $(seq 100); do kill -0 "$tool" 2>/dev/null || break; sleep 0.1; done
kill -0 "$tool" 2>/dev/null && fail "tarvic.exe did not end"
echo "tarvic.exe ended $(ms_since "$start") ms after its start"
exit 0
