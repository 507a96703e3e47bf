# Sourced by the scripts that run Windows programs of a build folder under Wine:
#   source tools/wine-session.sh BUILD_DIR
# Makes the folder's Wine prefix if needed, gives the session a display of its own (a
# virtual X server, so that nothing comes up on the user's screen) and starts one Wine server with Wine's own background
# processes for the whole session: a server that has to start for each program costs
# seconds, and the background processes, once started, stay on the first display they saw
# and must not hold a test's output open. The EXIT trap ends them.
export WINEPREFIX=$PWD/$1/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash tools/wine-run.sh "$WINEPREFIX"
source tools/x11.sh
start_xvfb 110
wine_session_xvfb=$xvfb_pid
wineserver -p >/dev/null 2>&1 || true # one may be running already
trap 'wineserver -k 2>/dev/null || true; kill "$wine_session_xvfb" 2>/dev/null || true' EXIT
wineboot >/dev/null 2>&1
