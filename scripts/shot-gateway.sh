#!/usr/bin/env bash
# Screenshots of the real tkcontrol under a virtual display with its port a
# Modbus TCP gateway (tksim --tcp): the window polling through it, the
# Parameters dialog showing the port by its address, the same after "Apply",
# "Find controller" there (the addresses answering behind it, no speed
# searched), both once the gateway is gone ("Not connected", "trying again"),
# and the window once it is back with nothing at the window's address 9 (the
# gateway's own exception 11 in its words).
# Usage: scripts/shot-gateway.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh xdotool imagemagick
build=${BUILD:-build}
cmake --build "$build" --target tkcontrol tksim -j2 >/dev/null
out=$(realpath -m "${1:-/tmp/tkcontrol-gateway}")
mkdir -p "$out"
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
bench_workspace shot-gateway

# A display number no other X server holds.
for n in $(shuf -i 90-189); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
display=:$n
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
children+=($!)
export DISPLAY=$display
sleep 1

# Waits up to 20 s for a window of this exact name; prints its id.
window() {
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 && return 0
        sleep 0.2
    done
    echo "no window \"$1\"" >&2
    return 1
}

"$PWD/$build/tools/tksim" --tcp 0 --address 9,12 --setpoint 200 --log "$work/tksim.log" \
    >"$work/tksim.out" &
sim=$!
children+=("$sim")
for _ in $(seq 100); do grep -q 'ready on' "$work/tksim.out" 2>/dev/null && break; sleep 0.1; done
url=$(sed -n 's|.*ready on \(tcp://[^ ]*\).*|\1|p' "$work/tksim.out")
printf '[Ports]\n3=%s\n[TK840 TK960 PC control]\nComPortNum=3\nComPortSpeed=19200\n' "$url" \
    >"$work/conf.ini"
(cd "$work" && exec "$OLDPWD/$build/app/tkcontrol") >"$work/tkcontrol.out" 2>&1 &
program=$!
children+=("$program")
main=$(window "TK840 TK960 PC control")
# The first poll comes 5 s after the start.
sleep 8
import -window "$main" "$out/window.png"
xdotool mousemove --window "$main" 44 196 click 1
dialog=$(window Parameters)
sleep 1
import -window "$dialog" "$out/parameters.png"
# "Apply" of the port row.
xdotool mousemove --window "$dialog" 476 28 click 1
sleep 1
import -window "$dialog" "$out/parameters-applied.png"
# "Find controller".
xdotool mousemove --window "$dialog" 60 224 click 1
sleep 4
import -window "$dialog" "$out/parameters-find.png"
kill "$sim"
sleep 5
import -window "$dialog" "$out/parameters-gone.png"
import -window "$main" "$out/window-gone.png"
# "Close", so the window's status line shows whole.
xdotool mousemove --window "$dialog" 252 224 click 1
# Back on the same port, with nothing at address 9 behind it.
"$PWD/$build/tools/tksim" --tcp "${url##*:}" --address 12 --log "$work/tksim-again.log" \
    >"$work/tksim-again.out" &
children+=($!)
sleep 8
import -window "$main" "$out/window-exception.png"
echo "gateway $url"
ls "$out"
