#!/usr/bin/env bash
# Builds tarvic and runs the whole test suite with ctest.
#   tools/test.sh                  plain build in build/
#   TARVIC_SANITIZE=address,undefined tools/test.sh   sanitizer build in build-asan/
#   TARVIC_SANITIZE=thread tools/test.sh              sanitizer build in build-tsan/
#   TARVIC_TARGET=windows tools/test.sh               tarvic.exe cross-built in build-win/,
#                                                     its tests run under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
target=${TARVIC_TARGET:-linux}
case "$target" in
  linux) bash tools/deps.sh ;;
  windows) bash tools/deps.sh windows ;;
  *) echo "TARVIC_TARGET is linux or windows, not '$target'" >&2; exit 2 ;;
esac

if [ "$target" = windows ]; then
  # The Linux programs that the Windows tests run with: the simulator, the bridge that
  # lends them pseudo-terminals and the library that lets Wine wait on those.
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIC_WERROR="${TARVIC_WERROR:-OFF}" \
    >/dev/null
  cmake --build build -j"$(nproc)" --target tarvic-sim tarvic-pty-bridge tarvic_modem_lines_shim
  dir=build-win
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIC_WERROR="${TARVIC_WERROR:-OFF}" \
    -DTARVIC_HOST_BUILD="$PWD/build" >/dev/null
  # One Wine prefix for the build folder, and one Wine server for the whole suite: a
  # server that has to start for each program costs seconds per test.
  export WINEPREFIX=$PWD/$dir/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  bash tools/wine-run.sh "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1 || true  # one may be running already
  trap 'wineserver -k 2>/dev/null || true' EXIT
  # Wine's own background processes start with the first program and stay with the
  # server; started here, they do not hold the output of a test open.
  wineboot >/dev/null 2>&1
  cmake --build "$dir" -j"$(nproc)"
  cd "$dir" && ctest --output-on-failure -j"$(nproc)" ${CTEST_ARGS:-}
  exit 0
fi

san=${TARVIC_SANITIZE:-}
case "$san" in
  "") dir=build ;;
  thread) dir=build-tsan ;;
  *) dir=build-asan ;;
esac
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIC_SANITIZE="$san" \
  -DTARVIC_WERROR="${TARVIC_WERROR:-OFF}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
cd "$dir" && ctest --output-on-failure -j"$(nproc)" ${CTEST_ARGS:-}
