#!/usr/bin/env bash
# Builds the GPRS dialogue's fuzz target with clang under AddressSanitizer and UBSan (in
# build-fuzz/) and runs it from the table cases (tests/fuzz/seeds) for the given seconds.
#   tools/fuzz.sh [SECONDS]   default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash tools/deps.sh fuzz
dir=build-fuzz
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DTARVIC_SANITIZE=address,undefined -DTARVIC_FUZZ=ON \
  -DTARVIC_TESTS=OFF -DTARVIC_WERROR="${TARVIC_WERROR:-OFF}" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_gprs_script
# The seeds stay as they are; what the fuzzer finds goes to a corpus folder of the build.
mkdir -p "$dir/corpus"
"$dir/tests/fuzz/fuzz_gprs_script" -max_total_time="$seconds" -print_final_stats=1 \
  "$dir/corpus" tests/fuzz/seeds
