# Sourced by the benchmark scripts: the commands they need and their build,
# a temporary folder in $work and a list $children of the background
# processes started there, both cleaned up when the script ends, also on
# Ctrl-C or SIGTERM.

# need_tools "SETUP ARGUMENTS" COMMAND...: ends the script when a command is
# missing, saying how to install it.
need_tools() {
    local install=$1 tool
    shift
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "$tool is missing: run scripts/setup.sh${install:+ $install} first." >&2
            exit 1
        fi
    done
}

# bench_build DIR TARGET...: the targets built into DIR, optimised with line
# tables, as the figures are taken.
bench_build() {
    local dir=$1
    shift
    echo "Building into $dir ..."
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$dir" -j2 --target "$@" >/dev/null
}
#   bench_workspace NAME
bench_workspace() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    children=()
    trap bench_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

bench_cleanup() {
    local pid
    for pid in "${children[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${children[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}

# wait_for FILE PATTERN PID: until FILE holds PATTERN (at most 30 s), or PID
# ends; otherwise says so with FILE's text and ends the script.
wait_for() {
    for _ in $(seq 300); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        kill -0 "$3" 2>/dev/null || break
        sleep 0.1
    done
    echo "$(basename "$1") never said \"$2\":" >&2
    cat "$1" >&2
    exit 1
}

# free_port: a TCP port of 127.0.0.1 that nothing listens on, as the kernel
# hands one out.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# A bus of simulated controllers recorded by tkrecord, for the bus benchmark
# and its demonstration. $tksim and $tkrecord name the programs.

# start_bus_sim LINK ADDRESSES [TKSIM_ARGUMENT...]: tksim on a pseudo-terminal
# at LINK, serving ADDRESSES at 19200 bit/s. Its log goes to $work/tksim.log,
# each line stamped with the monotonic time, then the wall-clock time (both
# in seconds), it was written at.
start_bus_sim() {
    local link=$1 addresses=$2
    shift 2
    "$tksim" --link "$link" --baud 19200 --address "$addresses" "$@" \
        > >(python3 -uc 'import sys, time
for line in sys.stdin:
    print(f"{time.monotonic():.4f} {time.time():.4f} {line}", end="", flush=True)' \
            >"$work/tksim.log") 2>&1 &
    children+=($!)
    wait_for "$work/tksim.log" "tksim ready on " $!
}

# write_bus_conf FILE LINK CONTROLLERS [ANSWER_TIMEOUT]: a conf.ini for the
# line at LINK at 19200 bit/s, with controllers c1 to cN at addresses 1 to N,
# a record every 10 s, and [Bus] AnswerTimeout (ms) when given.
write_bus_conf() {
    local file=$1 link=$2 controllers=$3 answer_timeout=${4:-} n
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\nComPortSpeed=19200\ninterv_record=10\n[Controllers]\n' \
        "$link" >"$file"
    for n in $(seq 1 "$controllers"); do echo "c$n=$n" >>"$file"; done
    if [ -n "$answer_timeout" ]; then
        printf '[Bus]\nAnswerTimeout=%s\n' "$answer_timeout" >>"$file"
    fi
}

# start_recorder DIR: tkrecord recording in DIR (its conf.ini there), without
# seals, its metrics on a free port of 127.0.0.1 and its output in
# DIR/tkrecord.out. Sets $recorder (its pid) and $metrics (host:port).
start_recorder() {
    "$tkrecord" --dir "$1" --no-seal --metrics 127.0.0.1:0 >"$1/tkrecord.out" 2>&1 &
    recorder=$!
    children+=("$recorder")
    wait_for "$1/tkrecord.out" "metrics at http://" "$recorder"
    metrics=$(sed -n 's|.*metrics at http://\([^/]*\)/metrics.*|\1|p' "$1/tkrecord.out")
}

# monotonic: the seconds of the system's monotonic clock, as stamped uses.
monotonic() {
    python3 -c 'import time; print(f"{time.monotonic():.4f}")'
}

# stamped FILE: each line of stdin with the monotonic time it was written at.
stamped() {
    python3 -uc 'import sys, time
for line in sys.stdin:
    print(f"{time.monotonic():.4f} {line}", end="", flush=True)' >"$1"
}

# start_ser2net DIR DEVICE BAUD PORT: Debian's ser2net serving DEVICE at
# BAUD 8N1 as raw TCP on 127.0.0.1:PORT, its files in DIR; its pid in
# $ser2net and $children. kickolduser: a client that comes back after a lost
# connection is not refused while ser2net still holds the old one.
start_ser2net() {
    printf 'connection: &line\n  accepter: tcp,127.0.0.1,%s\n  enable: on\n  options:\n    kickolduser: true\n  connector: serialdev,%s,%sn81,local\n' \
        "$4" "$2" "$3" >"$1/ser2net.yaml"
    # -n: in the foreground; -u: no UUCP lock files, which need /var/lock.
    "$(command -v ser2net)" -n -u -P "$1/ser2net.pid" -c "$1/ser2net.yaml" \
        >>"$1/ser2net.out" 2>&1 &
    ser2net=$!
    children+=("$ser2net")
}

# wait_listening PORT: until something listens on 127.0.0.1:PORT (at most
# 30 s), seen in /proc/net/tcp rather than by connecting: a probe connection
# would take a serial server's line from the client it serves (kickolduser);
# prints the monotonic time it was first seen.
wait_listening() {
    python3 - "$1" <<'PY'
import sys, time
want = f"0100007F:{int(sys.argv[1]):04X}"
end = time.monotonic() + 30
while True:
    with open("/proc/net/tcp") as table:
        # Local address, then state 0A: listening.
        if any(f[1] == want and f[3] == "0A" for f in (line.split() for line in table)):
            print(f"{time.monotonic():.4f}")
            break
    if time.monotonic() > end:
        sys.exit(f"nothing listens on 127.0.0.1:{sys.argv[1]}")
    time.sleep(0.01)
PY
}
