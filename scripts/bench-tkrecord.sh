#!/usr/bin/env bash
# tkrecord's footprint (docs/benchmarks.md): peak and median memory and CPU
# over a long run against tksim with every fault on, while a real Prometheus
# scrapes its /metrics every second. Builds tkrecord and tksim into
# build-bench (or the folder given as first argument); the samples go to
# <build folder>/bench-tkrecord.txt.
#
# Environment: BENCH_SECONDS (length of the run, default 600),
# BENCH_SAMPLE_SECONDS (time between samples, default 10),
# BENCH_INTERV_RECORD (interv_record of the run's conf.ini, default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

build_dir=${1:-build-bench}
seconds=${BENCH_SECONDS:-600}
step=${BENCH_SAMPLE_SECONDS:-10}
interv_record=${BENCH_INTERV_RECORD:-20}

# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "prometheus curl" cmake prometheus curl
bench_build "$build_dir" tksim tkrecord
samples=$PWD/$build_dir/bench-tkrecord.txt
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord

bench_workspace tk-bench-tkrecord

# Every fault of tksim at once, the oven model ten times faster.
"$tksim" --link "$work/port" --log "$work/tksim.log" --speed 10 --drop 0.05 --exception 0.05 \
    --truncate 0.05 --bad-crc 0.05 --bad-address 0.05 --noise 0.1 --extra 0.1 --slow 0.05 \
    --unplug 0.01 --replug-after 1000 >"$work/tksim.out" 2>&1 &
children+=($!)
wait_for "$work/tksim.out" "^tksim ready on " $!

printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\ninterv_record=%s\n' \
    "$work/port" "$interv_record" >"$work/conf.ini"
"$tkrecord" --dir "$work" --metrics 127.0.0.1:0 >"$work/tkrecord.out" 2>&1 &
pid=$!
children+=("$pid")
wait_for "$work/tkrecord.out" "metrics at http://" "$pid"
target=$(sed -n 's|.*metrics at http://\([^/]*\)/metrics.*|\1|p' "$work/tkrecord.out")

prom_port=$(free_port)
cat >"$work/prometheus.yml" <<CONF
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files:
  - $PWD/tkrecord/prometheus/tkrecord-alerts.yml
scrape_configs:
  - job_name: tkrecord
    static_configs:
      - targets: ["$target"]
CONF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
    --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
children+=($!)
wait_for "$work/prometheus.log" "Server is ready to receive web requests" $!

# One sample a step: seconds since start, RSS and peak RSS in KiB, CPU time
# in ns (schedstat: user and system time, not rounded to clock ticks).
: >"$samples"
echo "Running for $seconds s (tkrecord pid $pid, metrics at $target, Prometheus on $prom_port) ..."
start=$SECONDS
while :; do
    elapsed=$((SECONDS - start))
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
    cpu=$(awk '{ print $1 }' "/proc/$pid/schedstat")
    echo "$elapsed $rss $hwm $cpu" >>"$samples"
    [ "$elapsed" -ge "$seconds" ] && break
    sleep "$step"
done

query() {
    curl -s --get "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
        sed -n 's/.*"value":\[[^,]*,"\([^"]*\)"\].*/\1/p'
}
scrapes=$(query "count_over_time(up{job=\"tkrecord\"}[${seconds}s])")
scrapes_ok=$(query "sum_over_time(up{job=\"tkrecord\"}[${seconds}s])")
polls=$(query 'sum(tk_polls_total)')
polls_ok=$(query 'tk_polls_total{result="ok"}')
records=$(query 'tk_records_total')
record_errors=$(query 'tk_record_errors_total')
kill -TERM "$pid"
status=0
wait "$pid" || status=$?

echo
echo "$(nproc) CPUs; $(lscpu | sed -n 's/^Model name: *//p' | head -n 1); interv_record=$interv_record"
echo "tkrecord exit status after SIGTERM: $status"
echo "Prometheus: $scrapes scrapes, $scrapes_ok successful; tkrecord: $polls polls ($polls_ok ok), $records records, $record_errors record errors"
# Medians over the samples after the first minute (start-up left out): RSS,
# and CPU per step as a percentage of one core.
awk -v step="$step" '
    NR > 1 { cpu[++n] = ($4 - last) / 1e9 / ($1 - lastT) * 100; if ($1 >= 60) rss[++m] = $2 }
    { last = $4; lastT = $1; hwm = $3; total = $4; end = $1 }
    function median(a, k,   i, j, t) {
        for (i = 2; i <= k; i++) { t = a[i]; for (j = i - 1; j > 0 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
        return (k % 2) ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
    }
    END {
        printf "peak RSS %.2f MiB; median RSS %.2f MiB (aim < 15 MB)\n", hwm / 1024, median(rss, m) / 1024
        printf "CPU over the run %.3f %% of a core; median per %d s step %.3f %% (aim < 0.2 %%)\n", total / 1e9 / end * 100, step, median(cpu, n)
    }' "$samples"
