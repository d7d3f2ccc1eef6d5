#!/usr/bin/env bash
# The recorder serving its clients (docs/benchmarks.md): the delay from the
# recorder taking a poll's answer to an attached client having the values
# (median and 95th percentile over every values message of one client),
# and the recorder's CPU with 10 windows on its socket and 10 shop-floor
# pages on its event stream, against tksim with three controllers, compared
# with the same run without clients. Builds tkrecord and tksim into
# build-bench (or the folder given as first argument).
#
# Environment: BENCH_SECONDS (length of each run, default 600).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

build_dir=${1:-build-bench}
seconds=${BENCH_SECONDS:-600}

# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "" cmake curl /usr/bin/python3
bench_build "$build_dir" tksim tkrecord
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord

bench_workspace tk-bench-attach

# One client of the socket: hello, watch, then for each values message the
# delay from the recorder's stamp (taken when the poll's answer is handed on)
# to its arrival here, in ms, one a line.
cat >"$work/watch.py" <<'PY'
import json, socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(b'{"request":"hello","protocol":1}\n{"request":"watch"}\n')
out = open(sys.argv[2], "w") if len(sys.argv) > 2 else None
buffer = b""
while True:
    data = s.recv(65536)
    if not data:
        break
    now = time.time() * 1000
    buffer += data
    *lines, buffer = buffer.split(b"\n")
    for line in lines:
        message = json.loads(line)
        if out and message.get("event") == "values":
            out.write("%.3f\n" % (now - message["time"]))
            out.flush()
PY

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# run NAME CLIENTS: one recorder run of $seconds with CLIENTS windows and
# CLIENTS pages; prints its CPU share of one core.
run() {
    local name=$1 clients=$2 dir="$work/$1" pid before after i
    mkdir -p "$dir"
    "$tksim" --link "$dir/tty" --address 9,10,11 --setpoint 200,150,100 --log "$dir/sim.log" \
        >"$dir/sim.out" 2>&1 &
    children+=($!)
    wait_for "$dir/sim.out" "tksim ready on" $!
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\ninterv_record=20\n[Controllers]\noven1=9\noven2=10\noven3=11\n' \
        "$dir/tty" >"$dir/conf.ini"
    "$tkrecord" --dir "$dir" --no-seal --metrics 127.0.0.1:0 >"$dir/rec.out" 2>&1 &
    pid=$!
    children+=($pid)
    wait_for "$dir/rec.out" "/metrics$" $pid
    local url
    url=$(grep -o 'http://[^ ]*/metrics' "$dir/rec.out" | sed 's,/metrics$,,')
    for ((i = 0; i < clients; i++)); do
        /usr/bin/python3 "$work/watch.py" "$dir/.tkrecord.sock" \
            "$([ "$i" = 0 ] && echo "$dir/delays.txt" || echo /dev/null)" >/dev/null 2>&1 &
        children+=($!)
        curl -sN "$url/events" >/dev/null 2>&1 &
        children+=($!)
    done
    before=$(ticks $pid)
    sleep "$seconds"
    after=$(ticks $pid)
    [ "$clients" = 0 ] || curl -s "$url/metrics" | grep '^tk_clients' >&2
    # Run in a command substitution: its processes are ended here, or the
    # substitution would wait for them.
    kill -TERM "${children[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$seconds" \
        'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

idle=$(run alone 0)
busy=$(run clients 10)
sort -n "$work/clients/delays.txt" >"$work/sorted.txt"
count=$(wc -l <"$work/sorted.txt")
median=$(awk -v n="$count" 'NR == int((n + 1) / 2)' "$work/sorted.txt")
p95=$(awk -v n="$count" 'NR == int(n * 0.95 + 0.5)' "$work/sorted.txt")
echo "runs of ${seconds} s, tkrecord on tksim with 3 controllers"
echo "delay recorder -> attached client: median ${median} ms, 95th percentile ${p95} ms (${count} values)"
echo "tkrecord CPU: ${idle} % of a core alone, ${busy} % with 10 windows and 10 pages"
