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
bench_workspace shot-attached
need_tools "xdotool imagemagick" Xvfb xdotool import

for n in $(shuf -i 90-189); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
display=:$n
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
children+=($!)
export DISPLAY=$display

recorder=$work/oven-line
mkdir -p "$recorder" "$work/window" "$work/home"
"$PWD/$build/tools/tksim" --link "$work/sim" --log "$work/tksim.log" --address 9,10,11 \
    --setpoint 100,150,320 --speed 20 >/dev/null 2>&1 &
children+=($!)
for _ in $(seq 50); do [ -e "$work/sim" ] && break; sleep 0.1; done
printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\n[Controllers]\noven-1=9\noven-2=10\noven-3=11\n[Alarms]\nHighLimit=300\n[Control]\nSetpointWrite=1\nSetpointMin=0\nSetpointMax=400\nWriters=%s\n' \
    "$work/sim" "$(id -gn)" >"$recorder/conf.ini"
XDG_DATA_HOME="$work/home" "$PWD/$build/tkrecord/tkrecord" --dir "$recorder" >"$work/tkrecord.out" 2>&1 &
children+=($!)
# Some time of the recorder's own before the window comes: its graph starts full.
sleep 45
(cd "$work/window" && XDG_DATA_HOME="$work/home" exec "$OLDPWD/$build/app/tkcontrol" --attach "$recorder") \
    >"$work/tkcontrol.out" 2>&1 &
children+=($!)
for _ in $(seq 100); do
    xdotool search --onlyvisible --name "TK840 TK960 PC control" >/dev/null 2>&1 && break
    sleep 0.2
done
sleep 4
import -window root "$out/attached-1024x768.png"
cat "$work/tkrecord.out"
ls "$out"
