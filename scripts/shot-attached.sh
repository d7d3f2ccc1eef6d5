#!/usr/bin/env bash
# A screenshot of the real tkcontrol attached to the real tkrecord polling
# tksim under a virtual 1024 × 768 screen: three controllers, the third over
# its high limit (the band, the title, the strip), the graph filled with
# what the recorder kept before the window came.
# Usage: scripts/shot-attached.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
cmake --build "$build" --target tkcontrol tkrecord tksim -j2 >/dev/null
out=$(realpath -m "${1:-/tmp/tkcontrol-attached}")
mkdir -p "$out"
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
# shellcheck source=attached-setup.sh
source scripts/attached-setup.sh
bench_workspace shot-attached
need_tools "xdotool imagemagick" Xvfb xdotool import

start_screen 1024x768
start_oven_line "$(id -gn)"
# shellcheck disable=SC2119 # no arguments of its own
start_recorder
# Some time of the recorder's own before the window comes: its graph starts full.
sleep 45
start_window window
sleep 4
import -window root "$out/attached-1024x768.png"
cat "$work/tkrecord.out"
ls "$out"
