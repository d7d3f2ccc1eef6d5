#!/usr/bin/env bash
# tkrecord with its controllers behind a gateway: 8 controllers, 4 and 7
# silent, behind tksim's own Modbus TCP server (tcp://) and then behind
# Debian's ser2net in front of tksim's pseudo-terminal at 19200 bit/s
# (rtu+tcp://), each recorded by tkrecord for SECONDS (default 60; 600 for
# the full figure). For each kind prints each live controller's answer
# spacing (from tksim's log, stamped as each line is written), the spacings
# over every live controller (median, 1st and 99th percentiles, extremes),
# the answers missed (spacings above 3 s), tkrecord's poll counts and
# connections, and tkrecord's CPU (% of one core, from /proc/PID/stat, per
# step) and RSS (/proc/PID/status), medians over the steps after the
# warm-up (one clock tick in a step is 0.2 % at 5 s steps: the figure over
# the run is the finer one). Builds into build-bench (or the folder given as second argument).
# Usage: scripts/bench-gateway.sh [SECONDS [BUILD]]
# Environment: BENCH_SAMPLE_SECONDS (time between samples, default 5),
# BENCH_WARMUP_SECONDS (left out of the CPU and RSS medians, default 20),
# BENCH_SILENT (the silent addresses, default 4,7; empty: none),
# BENCH_KINDS (default "tcp rtu+tcp").
# The full figure: scripts/bench-gateway.sh 600
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C
seconds=${1:-60}
build_dir=${2:-build-bench}
step=${BENCH_SAMPLE_SECONDS:-5}
warmup=${BENCH_WARMUP_SECONDS:-20}
silent=${BENCH_SILENT-4,7}
kinds=${BENCH_KINDS:-tcp rtu+tcp}
addresses=$(seq -s, 1 8)
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "curl python3" cmake curl python3
case " $kinds " in *" rtu+tcp "*) need_tools ser2net ser2net ;; esac
bench_build "$build_dir" tksim tkrecord
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord
bench_workspace tk-bench-gateway
ticks=$(getconf CLK_TCK)

# run_kind KIND: tksim (and ser2net) behind KIND's gateway, tkrecord on it.
run_kind() {
    local kind=$1 dir=$work/$1 url pid target
    mkdir -p "$dir"
    if [ "$kind" = tcp ]; then
        "$tksim" --tcp 0 --address "$addresses" ${silent:+--silent "$silent"} \
            > >(stamped "$dir/tksim.log") 2>&1 &
        children+=($!)
        wait_for "$dir/tksim.log" "tksim ready on " $!
        url=$(sed -n 's|.*tksim ready on \(tcp://[^ ]*\).*|\1|p' "$dir/tksim.log")
    else
        "$tksim" --link "$dir/line" --baud 19200 --address "$addresses" \
            ${silent:+--silent "$silent"} > >(stamped "$dir/tksim.log") 2>&1 &
        children+=($!)
        wait_for "$dir/tksim.log" "tksim ready on " $!
        local port
        port=$(free_port)
        start_ser2net "$dir" "$dir/line" 19200 "$port"
        wait_listening "$port" >/dev/null
        url=rtu+tcp://127.0.0.1:$port
    fi
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\ninterv_record=10\n[Controllers]\n' \
        "$url" >"$dir/conf.ini"
    for n in $(seq 1 8); do echo "c$n=$n" >>"$dir/conf.ini"; done
    "$tkrecord" --dir "$dir" --no-seal --metrics 127.0.0.1:0 >"$dir/tkrecord.out" 2>&1 &
    pid=$!
    children+=("$pid")
    wait_for "$dir/tkrecord.out" "metrics at http://" "$pid"
    target=$(sed -n 's|.*metrics at http://\([^/]*\)/metrics.*|\1|p' "$dir/tkrecord.out")

    echo "== $kind: $url, $seconds s (tkrecord pid $pid) ..."
    # One sample a step: seconds since start, RSS in KiB, user + system
    # time in clock ticks.
    local start=$SECONDS elapsed rss cpu
    while :; do
        elapsed=$((SECONDS - start))
        rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
        cpu=$(sed 's/.*) //' "/proc/$pid/stat" | awk '{ print $12 + $13 }')
        echo "$elapsed $rss $cpu" >>"$dir/samples"
        [ "$elapsed" -ge "$seconds" ] && break
        sleep "$step"
    done
    curl -s "http://$target/metrics" | grep '^tk_polls_total' >"$dir/polls" || true
    kill -TERM "$pid"
    wait "$pid" || true

    python3 - "$dir/tksim.log" "$dir/polls" "$dir/tkrecord.out" <<'PY'
import re, statistics, sys
answers = {}
silent = 0
connections = 0
for line in open(sys.argv[1]):
    m = re.match(r"(\S+) @(\d+) (answer|silent) ", line)
    if m and m[3] == "answer":
        answers.setdefault(int(m[2]), []).append(float(m[1]))
    elif m:
        silent += 1
def pct(v, p):
    v = sorted(v)
    return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]
every = []
for address in sorted(answers):
    t = answers[address]
    own = [1000 * (b - a) for a, b in zip(t, t[1:])]
    every += own
    if own:
        print(f"controller {address}: {len(t)} answers, spacing median {statistics.median(own):.0f} "
              f"min {min(own):.0f} max {max(own):.0f} ms, {sum(s > 3000 for s in own)} above 3 s")
print(f"live controllers {len(answers)}, answers {sum(map(len, answers.values()))}")
if every:
    print(f"spacing median {statistics.median(every):.0f} ms, 1st/99th percentile "
          f"{pct(every, 1):.0f}/{pct(every, 99):.0f} ms, extremes {min(every):.0f}/{max(every):.0f} ms "
          f"(aim 2000 +- 200 ms)")
    print(f"missed answers (spacings above 3 s): {sum(s > 3000 for s in every)}")
print(f"requests to the silent controllers: {silent}")
polls = {}
for line in open(sys.argv[2]):
    m = re.match(r'tk_polls_total\{controller="(\w+)",address="\d+",result="(\w+)"\} (\d+)', line)
    if m:
        polls.setdefault(m[1], {})[m[2]] = int(m[3])
print("tkrecord's polls ok/no answer: " + ", ".join(
    f"{c} {v.get('ok', 0)}/{v.get('no_answer', 0)}" for c, v in sorted(polls.items())))
said = open(sys.argv[3]).read()
print(f"connections made: {said.count(' connected' + chr(10))}, lost: {said.count(' not connected (')}")
PY
    awk -v ticks="$ticks" -v warmup="$warmup" '
        NR > 1 && $1 > warmup { cpu[++n] = ($3 - last) / ticks / ($1 - lastT) * 100; rss[n] = $2 }
        { last = $3; lastT = $1; total = $3; end = $1 }
        function median(a, k,   i, j, t) {
            for (i = 2; i <= k; i++) { t = a[i]; for (j = i - 1; j > 0 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
            return (k % 2) ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
        }
        END {
            if (n == 0) { print "run too short for tkrecord figures (over " warmup " s needed)"; exit }
            printf "tkrecord CPU: median %.3f %% of a core per step (%d steps), %.3f %% over the run (aim <= 0.5 %%)\n", median(cpu, n), n, total / ticks / end * 100
            printf "tkrecord RSS: median %.1f MiB (aim <= 20 MB)\n", median(rss, n) / 1024
        }' "$dir/samples"
}

echo "$(nproc) CPUs; $(lscpu | sed -n 's/^Model name: *//p' | head -n 1); $seconds s per kind"
for kind in $kinds; do
    run_kind "$kind"
done
