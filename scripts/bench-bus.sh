#!/usr/bin/env bash
# The bus at work: 8 controllers on one tksim line at 19200 bit/s, 2 of them
# silent, polled by the bus for SECONDS (default 60; 600 for the full
# figure). Prints the spacing of the live controllers' answers (median,
# 1st and 99th percentiles, extremes), one line per controller, and the
# polling process's CPU and memory.
# Usage: scripts/bench-bus.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${BUILD:-build}
cmake --build "$build" --target bench_bus tksim -j2 >/dev/null
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
bench_workspace bench-bus

"$build/tools/tksim" --link "$work/bus" --baud 19200 --address 1,2,3,4,5,6,7,8 \
    --silent 4,7 --log "$work/tksim.log" >/dev/null 2>&1 &
children+=($!)
for _ in $(seq 50); do
    [ -e "$work/bus" ] && break
    sleep 0.1
done
"$build/tests/bench/bench_bus" "$work/bus" "$seconds" 1,2,3,4,5,6,7,8
echo "tksim: $(grep -c ' silent ' "$work/tksim.log") requests to the silent ones," \
    "$(grep -c ' answer ' "$work/tksim.log") answered"
