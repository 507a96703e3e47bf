#!/usr/bin/env bash
# How long tarvic.exe's checks take under Wine against the simulator, next to the waits
# that the protocol fixes (see bench/checks/bench_checks.cpp: 8 x 468 ms for a first GPRS
# run, 88 ms for the RS-485 check), and how long the window takes to come up. Under Wine
# these are indications. Needs the builds of TARVIC_TARGET=windows bash tools/test.sh.
#   bash bench/wine/bench_checks.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-5}
source tools/wine-session.sh build-win
out=$(mktemp)
for _ in $(seq "$runs"); do
  bash tests/wine/check_run.sh pass "$PWD/build-win/app/tarvic.exe" "$PWD/build/sim/tarvic-sim" \
    "$PWD/build/tests/wine/libtarvic_modem_lines_shim.so" "$WINEPREFIX/ports" >>"$out" ||
    { cat "$out"; exit 1; }
done
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
w=$(sed -n 's/^window after \([0-9]*\) ms$/\1/p' "$out" | median)
g=$(sed -n 's/^GPRS check: box "OK" after \([0-9]*\) ms$/\1/p' "$out" | median)
r=$(sed -n 's/^RS-485 check: box "OK" after \([0-9]*\) ms$/\1/p' "$out" | median)
rm -f "$out"
echo "$runs runs, medians:"
echo "  start to window:  $w ms"
echo "  GPRS check:       $g ms for 3744 ms of fixed waits (from Enter to its box)"
echo "  RS-485 check:     $r ms for 88 ms of fixed waits (from the GPRS box's OK to its box)"
