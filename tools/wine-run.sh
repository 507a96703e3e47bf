#!/usr/bin/env bash
# Runs a Windows program under Wine, in the Wine prefix of the build folder:
#   tools/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
#   tools/wine-run.sh PREFIX        only makes the prefix
# The prefix is made on first use (once, even when several tests start at the same time),
# without the Mono and Gecko installers, which a console program never needs. Its serial
# ports COM1 to COM16 are the entries com1 to com16 of PREFIX/ports (a link to the
# devices is made there by whoever runs a test on them).
set -euo pipefail
export WINEPREFIX=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -e "$WINEPREFIX/.ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -e "$WINEPREFIX/.ready" ]; then
      wineboot -i >/dev/null 2>&1
      # This Wine does not find the symbol font of fonts-wine by itself; without it, title
      # bars show letters for their buttons.
      marlett=/usr/share/wine/fonts/marlett.ttf
      [ -e "$marlett" ] && ln -sf "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
      for n in $(seq 16); do
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$WINEPREFIX/ports/com$n" /f \
          >/dev/null 2>&1
      done
      # No window manager runs on the test display: without one, Wine would wait 2 s
      # for it each time a window is hidden.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
      # The ports are mapped when the server starts next.
      wineserver -w
      touch "$WINEPREFIX/.ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
(($#)) || exit 0
exec wine "$@"
