#!/usr/bin/env bash
# Whole-program benchmarks (docs/benchmarks.md): start-up time, CPU time and
# memory while polling, and latency from an answer's last byte to the
# read-out. Builds the benchmarks and tksim into build-bench (or the folder
# given as first argument), runs each several times under the offscreen
# platform and under a private Xvfb, and prints the median, minimum and
# maximum of every figure. Takes about five minutes; the raw result lines go
# to <build folder>/bench-results.txt.
#
# Environment: BENCH_RUNS (runs per figure, default 7, at least 5),
# BENCH_POLL_SECONDS (window of the polling runs, default 60),
# BENCH_SAMPLES (latency samples per run, default 200), BENCH_STARTUP_ONLY=1
# (the start-up figures alone, some 20 s after the build).
set -euo pipefail
cd "$(dirname "$0")/.."
# EPOCHREALTIME and awk's numbers with "." as the decimal point.
export LC_ALL=C

build_dir=${1:-build-bench}
runs=${BENCH_RUNS:-7}
poll_seconds=${BENCH_POLL_SECONDS:-60}
samples=${BENCH_SAMPLES:-200}
startup_only=${BENCH_STARTUP_ONLY:-0}
if [ "$runs" -lt 5 ]; then
    echo "BENCH_RUNS must be 5 or more." >&2
    exit 2
fi

# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "" cmake Xvfb
bench_build "$build_dir" tksim bench_startup bench_polling bench_latency
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
tksim=$build_dir/tools/tksim
if [ ! -x "$tksim" ]; then
    echo "The simulator $tksim was not built (is libmodbus-dev installed?)." >&2
    exit 1
fi
bench=$PWD/$build_dir/tests/bench
results=$PWD/$build_dir/bench-results.txt
: >"$results"

bench_workspace tk-bench

# A private X server: Xvfb picks a free display and writes its number once it
# accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
children+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
if [ ! -s "$work/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
xdisplay=:$(head -n 1 "$work/display")

# use_platform offscreen|xvfb: sets the environment of the runs to come (call
# it in the subshell of a run).
use_platform() {
    unset WAYLAND_DISPLAY
    if [ "$1" = xvfb ]; then
        export QT_QPA_PLATFORM=xcb DISPLAY=$xdisplay
    else
        unset DISPLAY
        export QT_QPA_PLATFORM=offscreen
    fi
}

# new_site NAME TIMESCALE: a folder with a running tksim and a conf.ini that
# sends port 1 to it, as scripts/run.sh sets up demo/; the other 49 port
# numbers keep the platform's devices, so the start-up scan tries them as in
# the program. Sets site to the folder.
new_site() {
    local dir=$work/$1 scale=$2
    site=$dir
    mkdir -p "$dir"
    "$tksim" --link "$dir/tk-sim-port" --log "$dir/tksim.log" >"$dir/tksim.out" 2>&1 &
    children+=($!)
    local pid=$!
    for _ in $(seq 100); do
        grep -q "^tksim ready on " "$dir/tksim.out" 2>/dev/null && break
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "tksim did not start:" >&2
            cat "$dir/tksim.out" >&2
            exit 1
        fi
        sleep 0.1
    done
    grep -q "^tksim ready on " "$dir/tksim.out" || { echo "tksim not ready" >&2; exit 1; }
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\nEchelle_Temps=%s\n' \
        "$dir/tk-sim-port" "$scale" >"$dir/conf.ini"
}

# record LABEL FILE: appends FILE's result lines to the results, labelled.
record() {
    sed -n "s/^RESULT /$1 /p" "$2" >>"$results"
}

# summary LABEL KEY UNIT [AIM]: median, minimum and maximum of a figure over
# its runs; with AIM, whether the median is below it.
summary() {
    local label=$1 key=$2 unit=$3 aim=${4:-}
    awk -v label="$label" -v key="$key" '$1 == label && $2 == key { print $3 }' "$results" |
        sort -g |
        awk -v label="$label" -v key="$key" -v unit="$unit" -v aim="$aim" '
            { v[++n] = $1 }
            END {
                if (n == 0) { printf "%-30s %-33s no result\n", label, key; exit }
                median = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
                verdict = ""
                if (aim != "") verdict = (median < aim) ? "  aim < " aim ": met" : "  aim < " aim ": MISSED"
                printf "%-30s %-33s median %9.3f %-4s (min %9.3f, max %9.3f, %d runs)%s\n",
                       label, key, median, unit, v[1], v[n], n, verdict
            }'
}

# 1. Start-up: one warm-up run (caches) that is not counted, then the runs.
# The mark is taken by this shell right before exec, after the redirections.
new_site startup 10
for platform in offscreen xvfb; do
    echo "Start-up, $platform: $runs runs ..."
    for run in $(seq 0 "$runs"); do
        out=$work/startup-$platform-$run.out
        if ! (use_platform "$platform" && cd "$site" &&
              TK_BENCH_EXEC_TIME=$EPOCHREALTIME exec "$bench/bench_startup" \
                  >"$out" 2>"$out.err"); then
            echo "bench_startup failed ($platform, run $run):" >&2
            cat "$out.err" >&2
            exit 1
        fi
        [ "$run" -eq 0 ] || record "startup-$platform" "$out"
    done
done

machine_line() {
    echo
    echo "Build type $build_type; $(nproc) CPUs; $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
    echo
}
startup_summary() {
    for platform in xvfb offscreen; do
        label=startup-$platform
        summary "$label" startup_main ms
        summary "$label" startup_application ms
        summary "$label" startup_constructed ms
        summary "$label" startup_shown ms
        summary "$label" startup_first_frame ms 300
        summary "$label" startup_first_frame_kernel ms 300
        summary "$label" startup_runqueue_ms ms
        summary "$label" startup_first_frame_unqueued ms 300
        summary "$label" startup_cpu_ms ms
    done
}
if [ "$startup_only" = 1 ]; then
    machine_line
    startup_summary
    exit 0
fi

# 2. CPU and memory over the polling window. The runs go side by side, each
# with its own tksim, to keep the script short: CPU time is counted per
# process, and all of them together load the machine by a few percent.
echo "Polling, ${poll_seconds} s window: $runs runs of each case side by side ..."
poll_pids=()
poll_cases=()
for case in xvfb:10 xvfb:5000 offscreen:10; do
    platform=${case%%:*}
    scale=${case##*:}
    for run in $(seq 1 "$runs"); do
        new_site "poll-$platform-$scale-$run" "$scale"
        (use_platform "$platform" && cd "$site" &&
            exec "$bench/bench_polling" "$poll_seconds" >bench.out 2>bench.err) &
        poll_pids+=($!)
        children+=($!)
        poll_cases+=("polling-$platform-timeScale$scale:$site")
    done
done
for i in "${!poll_pids[@]}"; do
    label=${poll_cases[$i]%%:*}
    site=${poll_cases[$i]#*:}
    if ! wait "${poll_pids[$i]}"; then
        echo "bench_polling failed ($label):" >&2
        cat "$site/bench.err" >&2
        exit 1
    fi
    record "$label" "$site/bench.out"
done

# 3. Latency, against a pseudo-terminal of the benchmark's own.
for platform in offscreen xvfb; do
    echo "Latency, $platform: $runs runs of $samples samples ..."
    for run in $(seq 1 "$runs"); do
        out=$work/latency-$platform-$run.out
        if ! (use_platform "$platform" &&
              exec "$bench/bench_latency" "$samples" >"$out" 2>"$out.err"); then
            echo "bench_latency failed ($platform, run $run):" >&2
            cat "$out.err" >&2
            exit 1
        fi
        record "latency-$platform" "$out"
    done
done

# 4. Latency paced 3 ms apart with no recording, with a record every 5 ms, and
# with a record stuck in the medium (every later one lost).
for mode in off recording stalled; do
    echo "Latency, offscreen, recording $mode: $runs runs of $samples samples ..."
    for run in $(seq 1 "$runs"); do
        out=$work/latency-record-$mode-$run.out
        if ! (use_platform offscreen &&
              exec "$bench/bench_latency" "$samples" "$mode" >"$out" 2>"$out.err"); then
            echo "bench_latency failed (recording $mode, run $run):" >&2
            cat "$out.err" >&2
            exit 1
        fi
        record "latency-record-$mode" "$out"
    done
done

machine_line
startup_summary
echo
for label in polling-xvfb-timeScale10 polling-xvfb-timeScale5000 polling-offscreen-timeScale10; do
    summary "$label" polling_cpu_percent % 1
    summary "$label" polling_cpu_ms ms
    summary "$label" polling_peak_rss_mib MiB 80
    summary "$label" polling_rss_mib MiB
    summary "$label" polling_answers ""
    summary "$label" polling_trace_ticks ""
done
echo
for platform in xvfb offscreen; do
    label=latency-$platform
    for end in text paint flush flush_unqueued; do
        summary "$label" "latency_${end}_median_ms" ms 1
        summary "$label" "latency_${end}_p99_ms" ms 1
    done
done
echo
for mode in off recording stalled; do
    label=latency-record-$mode
    summary "$label" latency_text_median_ms ms 1
    summary "$label" latency_flush_median_ms ms 1
    summary "$label" record_tick_median_ms ms
    summary "$label" record_write_median_ms ms
    summary "$label" records_lost ""
done
