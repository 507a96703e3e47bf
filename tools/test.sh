#!/usr/bin/env bash
# Builds tarvic and runs the whole test suite with ctest.
#   tools/test.sh                  plain build in build/
#   TARVIC_SANITIZE=address,undefined tools/test.sh   sanitizer build in build-asan/
#   TARVIC_SANITIZE=thread tools/test.sh              sanitizer build in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
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
