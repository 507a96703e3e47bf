# Sourced by the scripts that drive windows as a person would, with xdotool on an X display.
#   start_xvfb FIRST       a virtual X server on the first free display from :FIRST;
#                          exports DISPLAY, leaves the server's process id in xvfb_pid and
#                          returns once the server answers (status 1 if it never does)
#   window PATTERN         the first visible window whose title matches, if any
#   wait_window PATTERN N  waits up to N tenths of a second for one and prints it
start_xvfb() {
  local n=$1
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  # -noreset: the check below is a client too, and a server that resets when its last
  # client goes refuses the next one for a moment.
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  # The socket appears before the server takes clients; a first start on a fresh machine
  # (keymaps, fonts) can take many seconds, and a client that comes too early is refused.
  for _ in $(seq 600); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "the virtual X server $DISPLAY did not start" >&2
  return 1
}

window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }

wait_window() {
  local w
  for _ in $(seq "$2"); do
    w=$(window "$1")
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
