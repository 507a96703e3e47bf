# Sourced by the scripts that run Windows programs of a build folder under Wine:
#   source tools/wine-session.sh BUILD_DIR
# Makes the folder's Wine prefix if needed, gives the session a display of its own (a
# virtual X server, so that nothing comes up on the user's screen) and starts one Wine server with Wine's own background
# processes for the whole session: a server that has to start for each program costs
# seconds, and the background processes, once started, stay on the first display they saw
# and must not hold a test's output open. The EXIT trap ends them.
export WINEPREFIX=$PWD/$1/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash tools/wine-run.sh "$WINEPREFIX"
n=110
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
wine_session_xvfb=$!
export DISPLAY=":$n"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
wineserver -p >/dev/null 2>&1 || true # one may be running already
trap 'wineserver -k 2>/dev/null || true; kill "$wine_session_xvfb" 2>/dev/null || true' EXIT
wineboot >/dev/null 2>&1
