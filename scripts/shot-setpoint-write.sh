#!/usr/bin/env bash
# Screenshots of a setpoint write from the real tkcontrol under a virtual
# display, one controller without [Controllers]: "accepted" (tksim takes the
# write and the next poll reads it back) and "refused" (tksim answers
# exception 3). The line runs through a socat tap, whose hex dump is the
# record of the bytes on the pty; the audit lines and the frames of the write
# are printed. Usage: scripts/shot-setpoint-write.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh xdotool imagemagick socat
build=${BUILD:-build}
cmake --build "$build" --target tkcontrol tksim -j2 >/dev/null
out=$(realpath -m "${1:-/tmp/setpoint-write}")
mkdir -p "$out"
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
bench_workspace shot-setpoint-write

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

for case in accepted refused; do
    dir=$work/$case
    mkdir -p "$dir"
    refuse=()
    [ "$case" = refused ] && refuse=(--refuse-writes 3)
    "$PWD/$build/tools/tksim" --link "$dir/sim" --setpoint 200 --log "$dir/tksim.log" \
        "${refuse[@]}" >"$dir/tksim.out" &
    children+=($!)
    for _ in $(seq 50); do [ -e "$dir/sim" ] && break; sleep 0.1; done
    # The tap: the program's port is one end, tksim's line the other.
    socat -x "pty,link=$dir/tap,raw,echo=0" "$dir/sim,raw,echo=0" 2>"$dir/tap.hex" &
    children+=($!)
    for _ in $(seq 50); do [ -e "$dir/tap" ] && break; sleep 0.1; done
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\nComPortSpeed=19200\n' \
        "$dir/tap" >"$dir/conf.ini"
    printf '[Control]\nSetpointWrite=1\nSetpointMin=20\nSetpointMax=250\n[Records]\nSeal=1\n' \
        >>"$dir/conf.ini"
    (cd "$dir" && exec "$OLDPWD/$build/app/tkcontrol") >"$dir/tkcontrol.out" 2>&1 &
    program=$!
    children+=("$program")
    main=$(window "TK840 TK960 PC control")
    # The first poll comes 5 s after the start.
    sleep 7
    # A double-click on the setpoint read-out.
    xdotool mousemove --window "$main" 676 64 click --repeat 2 --delay 80 1
    dialog=$(window Setpoint)
    # Until it is mapped and has the keyboard.
    sleep 1
    dialog=$(window Setpoint)
    xdotool type --window "$dialog" "$([ "$case" = accepted ] && echo 150 || echo 240)"
    xdotool key --window "$dialog" Tab
    xdotool type --window "$dialog" 'oven door "B" fixed'
    [ "$case" = accepted ] && import -window "$dialog" "$out/dialog.png"
    xdotool key --window "$dialog" Return
    sleep 0.5
    import -window "$dialog" "$out/$case-confirm.png"
    # From the reason, Tab reaches "Confirm" (the hidden "Write…" is skipped).
    xdotool key --window "$dialog" Tab space
    sleep 5
    import -window "$dialog" "$out/$case-dialog.png"
    # The window without the dialog over it, once the trace has a sample more.
    xdotool key --window "$dialog" Escape 2>/dev/null || true
    sleep 3
    import -window "$main" "$out/$case-window.png"
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    echo "== $case: audit lines"
    grep 'setpoint write' "$dir/audit.log" || true
    echo "== $case: tksim log"
    grep -E 'write|exception' "$dir/tksim.log" || true
    echo "== $case: the write on the pty (> to tksim, < from tksim)"
    grep -A1 -E '^[<>].*length=(5|8)' "$dir/tap.hex" | grep -B1 -E '^ 09 (06|86)' || true
    cp "$dir/tap.hex" "$out/$case-tap.hex"
    cp "$dir/tksim.log" "$out/$case-tksim.log"
done
ls "$out"
