# shellcheck shell=bash
# shellcheck disable=SC2154,SC2034 # work, children, build and what the functions set are the sourcing script's
# Sourced by the scripts that show tkcontrol attached to tkrecord, after
# bench-workspace.sh and bench_workspace: a virtual screen, tksim with three
# controllers (the third heading over its high limit), the real tkrecord
# polling them, and windows attached to it.
# Set before sourcing: build (the build folder).

# start_screen WIDTHxHEIGHT: an Xvfb of its own, DISPLAY set to it.
start_screen() {
    local n
    for n in $(shuf -i 90-189); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
    Xvfb ":$n" -screen 0 "${1}x24" -nolisten tcp >/dev/null 2>&1 &
    children+=($!)
    export DISPLAY=:$n
}

# start_oven_line WRITERS: tksim (oven-1, oven-2, oven-3 at addresses 9, 10,
# 11, setpoints 100, 150, 320 with HighLimit=300) and the recorder's folder
# $recorder with its conf.ini, setpoints written for the group WRITERS.
start_oven_line() {
    recorder=$work/oven-line
    mkdir -p "$recorder" "$work/home"
    "$PWD/$build/tools/tksim" --link "$work/sim" --log "$work/tksim.log" --address 9,10,11 \
        --setpoint 100,150,320 --speed 20 >"$work/tksim.out" 2>&1 &
    children+=($!)
    wait_for "$work/tksim.out" "tksim ready on" $!
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\n[Controllers]\noven-1=9\noven-2=10\noven-3=11\n[Alarms]\nHighLimit=300\n[Control]\nSetpointWrite=1\nSetpointMin=0\nSetpointMax=400\nWriters=%s\n' \
        "$work/sim" "$1" >"$recorder/conf.ini"
}

# start_recorder [ARGUMENT...]: tkrecord in $recorder, its pid in
# $recorder_pid, what it says appended to $work/tkrecord.out.
start_recorder() {
    (cd "$recorder" && XDG_DATA_HOME="$work/home" exec "$OLDPWD/$build/tkrecord/tkrecord" \
        --dir "$recorder" "$@") >>"$work/tkrecord.out" 2>&1 &
    recorder_pid=$!
    children+=($!)
}

# start_window NAME [COMMAND...]: tkcontrol --attach $recorder in its own
# working folder $work/NAME, run through COMMAND (another user, say); its
# window's id in $window once it shows, its process in $window_pid.
start_window() {
    local name=$1 pid
    shift
    mkdir -p "$work/$name/home"
    chmod 777 "$work/$name" "$work/$name/home"
    (cd "$work/$name" && HOME="$work/$name/home" XDG_DATA_HOME="$work/$name/home" \
        exec "$@" "$OLDPWD/$build/app/tkcontrol" --attach "$recorder") >"$work/$name.out" 2>&1 &
    pid=$!
    children+=("$pid")
    window_pid=$pid
    window=
    for _ in $(seq 150); do
        window=$(xdotool search --all --onlyvisible --pid "$pid" --name "TK840 TK960 PC control" 2>/dev/null |
            head -1) && [ -n "$window" ] && break
        sleep 0.2
    done
    [ -n "$window" ] || { echo "$name never showed its window:" >&2; cat "$work/$name.out" >&2; exit 1; }
}
