#!/usr/bin/env bash
# Screenshots of the real tkcontrol under a virtual 1024 × 768 screen against
# tksim: a bus of four controllers with the third over its high limit (the
# band above the plot, the strip under the status lines), and the window of a
# plain conf.ini after a recording (no band, and no audit.log, seal or key:
# the files it left are listed). Usage: scripts/shot-window.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh xdotool imagemagick
build=${BUILD:-build}
cmake --build "$build" --target tkcontrol tksim -j2 >/dev/null
out=$(realpath -m "${1:-/tmp/tkcontrol-window}")
mkdir -p "$out"
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
bench_workspace shot-window

# A display number no other X server holds.
for n in $(shuf -i 90-189); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
display=:$n
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
children+=($!)
export DISPLAY=$display
sleep 1

# Waits up to 20 s for a window whose name matches; prints its id.
window() {
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 && return 0
        sleep 0.2
    done
    echo "no window \"$1\"" >&2
    return 1
}

# start CASE CONF SIMOPTIONS...: tksim and tkcontrol in $work/CASE.
start() {
    local dir=$work/$1 conf=$2
    shift 2
    mkdir -p "$dir/home"
    "$PWD/$build/tools/tksim" --link "$dir/sim" --log "$dir/tksim.log" "$@" >/dev/null 2>&1 &
    children+=($!)
    for _ in $(seq 50); do [ -e "$dir/sim" ] && break; sleep 0.1; done
    printf '[Ports]\n1=%s\n%b' "$dir/sim" "$conf" >"$dir/conf.ini"
    (cd "$dir" && XDG_DATA_HOME="$dir/home" exec "$OLDPWD/$build/app/tkcontrol") \
        >"$dir/tkcontrol.out" 2>&1 &
    program=$!
    children+=("$program")
}

start bus '[Alarms]\nHighLimit=300\n[Controllers]\noven-1=9\noven-2=10\noven-3=11\noven-4=12\n' \
    --address 9,10,11,12 --setpoint 100,150,320,200 --speed 300
main=$(window "TK840 TK960 PC control")
sleep 12
xdotool getwindowgeometry "$main"
import -window root "$out/bus-1024x768.png"
kill "$program"
wait "$program" 2>/dev/null || true

start plain '[TK840 TK960 PC control]\nComPortNum=1\n' --setpoint 200
main=$(window "TK840 TK960 PC control")
sleep 8
# "Start recording", then "Stop recording" a few seconds later.
xdotool mousemove --window "$main" 44 260 click 1
sleep 3
xdotool mousemove --window "$main" 44 260 click 1
sleep 1
import -window root "$out/plain-1024x768.png"
kill "$program"
wait "$program" 2>/dev/null || true
echo "== plain: files left"
(cd "$work/plain" && find . -type f ! -name 'tksim.log' ! -name 'tkcontrol.out' | sort && ls -l REC_*.csv)
ls "$out"
