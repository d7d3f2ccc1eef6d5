#!/usr/bin/env bash
# Screenshots of the Parameters dialog after "Find controller", taken from the
# real tkcontrol under a virtual display: "found" (tksim answers on port 1
# only at 9600 bit/s while conf.ini says 19200), "bus" (the same with
# addresses 10 and 11, none at 9) and "not-found" (port 1 is a pty that
# answers nothing). Usage: scripts/shot-find-controller.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh xdotool imagemagick socat
build=${BUILD:-build}
cmake --build "$build" --target tkcontrol tksim -j2 >/dev/null
out=$(realpath -m "${1:-/tmp/find-controller}")
mkdir -p "$out"
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
bench_workspace shot-find-controller

display=:$((90 + RANDOM % 100))
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

for case in found bus not-found; do
    dir=$work/$case
    mkdir -p "$dir"
    if [ "$case" != not-found ]; then
        "$PWD/$build/tools/tksim" --link "$dir/sim" --baud 9600 --check-baud 1 \
            --address "$([ "$case" = bus ] && echo 10,11 || echo 9)" \
            --log "$dir/tksim.log" >"$dir/tksim.out" &
    else
        socat "pty,link=$dir/sim,raw,echo=0" "pty,link=$dir/unread,raw,echo=0" &
    fi
    line=$!
    children+=("$line")
    for _ in $(seq 50); do [ -e "$dir/sim" ] && break; sleep 0.1; done
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\nComPortSpeed=19200\n' \
        "$dir/sim" >"$dir/conf.ini"
    (cd "$dir" && exec "$OLDPWD/$build/app/tkcontrol") >"$dir/tkcontrol.out" 2>&1 &
    program=$!
    children+=("$program")
    main=$(window "TK840 TK960 PC control")
    xdotool mousemove --window "$main" 44 196 click 1
    dialog=$(window Parameters)
    xdotool mousemove --window "$dialog" 60 224 click 1
    # Found: its line's 32 addresses listed after it. Nothing answering:
    # every address at every speed on the pty and /dev/ttyS0, under a minute.
    case $case in
    found) sleep 10 ;;
    bus) sleep 25 ;;
    *) sleep 65 ;;
    esac
    import -window "$dialog" "$out/$case.png"
    echo "$out/$case.png"
    kill "$program" "$line" 2>/dev/null || true
    wait "$program" "$line" 2>/dev/null || true
done
