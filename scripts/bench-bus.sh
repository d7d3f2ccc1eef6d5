#!/usr/bin/env bash
# tkrecord on a bus: 8 controllers on one tksim line at 19200 bit/s, 4 and 7
# silent, recorded by tkrecord for SECONDS (default 60; 600 for the full
# figure). Prints each controller's answer spacing (taken from tksim's log,
# stamped as each line is written), the spacings over every live controller
# (median, 1st and 99th percentiles, extremes), the answers missed (spacings
# above 3 s, and tkrecord's own poll counts), and tkrecord's CPU (% of one
# core, from /proc/PID/stat, per step) and RSS (/proc/PID/status), medians
# over the steps after the first minute.
# Builds into build-bench (or the folder given as first argument).
# Usage: scripts/bench-bus.sh [SECONDS [BUILD]]
# Environment: BENCH_SAMPLE_SECONDS (time between samples, default 30),
# BENCH_SILENT (the silent addresses, default 4,7; empty: none, to compare),
# BENCH_CONTROLLERS (how many are configured, default 8; with more, all but
# the first 8 are silent unless BENCH_SILENT says otherwise) and
# BENCH_ANSWER_TIMEOUT ([Bus] AnswerTimeout in ms; empty: the default).
# The line owner's figures: BENCH_CONTROLLERS=40 BENCH_ANSWER_TIMEOUT=1000,
# and BENCH_CONTROLLERS=247, each for 600 s.
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C
seconds=${1:-60}
build_dir=${2:-build-bench}
step=${BENCH_SAMPLE_SECONDS:-30}
controllers=${BENCH_CONTROLLERS:-8}
answer_timeout=${BENCH_ANSWER_TIMEOUT:-}
if [ "$controllers" -gt 8 ]; then
    silent=${BENCH_SILENT-$(seq -s, 9 "$controllers")}
else
    silent=${BENCH_SILENT-4,7}
fi
addresses=$(seq -s, 1 "$controllers")
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "curl python3" cmake curl python3
bench_build "$build_dir" tksim tkrecord
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord
bench_workspace tk-bench-bus

start_bus_sim "$work/bus" "$addresses" ${silent:+--silent "$silent"}
write_bus_conf "$work/conf.ini" "$work/bus" "$controllers" "$answer_timeout"
start_recorder "$work"

# One sample a step: seconds since start, RSS in KiB, user + system time in
# clock ticks.
ticks=$(getconf CLK_TCK)
echo "Running for $seconds s (tkrecord pid $recorder, work folder $work) ..."
start=$SECONDS
while :; do
    elapsed=$((SECONDS - start))
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$recorder/status")
    cpu=$(sed 's/.*) //' "/proc/$recorder/stat" | awk '{ print $12 + $13 }')
    echo "$elapsed $rss $cpu" >>"$work/samples"
    [ "$elapsed" -ge "$seconds" ] && break
    sleep "$step"
done
curl -s "http://$metrics/metrics" | grep '^tk_polls_total' >"$work/polls" || true
kill -TERM "$recorder"
wait "$recorder" || true

echo "$(nproc) CPUs; $(lscpu | sed -n 's/^Model name: *//p' | head -n 1); $seconds s"
python3 - "$work/tksim.log" "$work/polls" <<'PY'
import re, statistics, sys
answers = {}
silent = 0
for line in open(sys.argv[1]):
    m = re.match(r"(\S+) \S+ @(\d+) (answer|silent) ", line)
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
    print(f"controller {address}: {len(t)} answers, spacing median {statistics.median(own):.0f} "
          f"min {min(own):.0f} max {max(own):.0f} ms, {sum(s > 3000 for s in own)} above 3 s")
print(f"live controllers {len(answers)}, answers {sum(map(len, answers.values()))}")
print(f"spacing median {statistics.median(every):.0f} ms, 1st/99th percentile "
      f"{pct(every, 1):.0f}/{pct(every, 99):.0f} ms, extremes {min(every):.0f}/{max(every):.0f} ms")
print(f"missed answers (spacings above 3 s): {sum(s > 3000 for s in every)}")
print(f"requests to the silent controllers: {silent}")
polls = {}
for line in open(sys.argv[2]):
    m = re.match(r'tk_polls_total\{controller="(\w+)",address="(\d+)",result="(\w+)"\} (\d+)', line)
    if m:
        polls.setdefault((int(m[2]), m[1]), {})[m[3]] = int(m[4])
print("tkrecord's polls ok/no answer: " + ", ".join(
    f"{c} {v.get('ok', 0)}/{v.get('no_answer', 0)}" for (a, c), v in sorted(polls.items()) if a in answers))
quiet = [v for (a, c), v in polls.items() if a not in answers]
if quiet:
    misses = [v.get("no_answer", 0) for v in quiet]
    print(f"  the {len(quiet)} silent ones: ok {sum(v.get('ok', 0) for v in quiet)}, "
          f"no answer {min(misses)} to {max(misses)} each over the run")
PY
# Medians over the steps after the first minute.
awk -v ticks="$ticks" '
    NR > 1 && $1 > 60 { cpu[++n] = ($3 - last) / ticks / ($1 - lastT) * 100; rss[n] = $2 }
    { last = $3; lastT = $1; total = $3; end = $1 }
    function median(a, k,   i, j, t) {
        for (i = 2; i <= k; i++) { t = a[i]; for (j = i - 1; j > 0 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
        return (k % 2) ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
    }
    END {
        if (n == 0) { print "run too short for tkrecord figures (over 60 s needed)"; exit }
        printf "tkrecord CPU: median %.3f %% of a core per step (%d steps), %.3f %% over the run (aim <= 0.5 %%)\n", median(cpu, n), n, total / ticks / end * 100
        printf "tkrecord RSS: median %.1f MiB (aim <= 20 MB)\n", median(rss, n) / 1024
    }' "$work/samples"
