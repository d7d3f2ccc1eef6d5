#!/usr/bin/env bash
# tkview on a generated recording of 1,000,000 records (one a second for 11.6
# days, with outages, missing stretches and spikes), chart 1920 x 1080
# (docs/benchmarks.md):
#   - open and first picture, one redraw while panning and zooming at four
#     zooms, memory per record above the empty program (tests/bench/bench_tkview);
#   - `tkview --png` against gnuplot plotting the same two columns of the same
#     file to a PNG of the same size, run in turns, and the ratio of medians.
# Builds into build-bench (or the folder given as first argument).
#
# Environment: BENCH_RUNS (runs of each, default 5), BENCH_RECORDS (1000000).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

build_dir=${1:-build-bench}
runs=${BENCH_RUNS:-5}
records=${BENCH_RECORDS:-1000000}
command -v gnuplot >/dev/null || { echo "gnuplot is missing: scripts/setup.sh gnuplot-nox" >&2; exit 1; }

echo "Building into $build_dir ..." >&2
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j2 --target tkview bench_tkview >/dev/null
tkview=$PWD/$build_dir/tkview/tkview
bench=$PWD/$build_dir/tests/bench/bench_tkview

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# generate FILE N: a recording as tkcontrol writes it under French settings,
# from 13 December 2026 (every day of the run above 12, so the dates decide
# nothing but agree with the name), CR LF line ends. The setpoint steps
# between 60 and 200 degrees every few hours; every 150,001 records 120 carry
# no data (8888;8888;0); every 100,003 seconds 300 s are missing (the
# recorder stopped); every 77,777 records a one-record spike of 50 degrees.
generate() {
    awk -v n="$2" 'BEGIN {
        printf "Time;Setpoint;Temperature;Power;\r\n"
        temperature = 20; written = 0; srand(1)
        for (s = 0; written < n; s++) {
            if (s % 100003 >= 100003 - 300) continue
            day = 13 + int(s / 86400); t = s % 86400
            stamp = sprintf("\"%02d/12/2026 %02d:%02d:%02d\"", day, int(t / 3600), int(t / 60) % 60, t % 60)
            written++
            if (written % 150001 >= 150001 - 120) { printf "%s;8888;8888;0;\r\n", stamp; continue }
            setpoint = (s % 21600 < 14400) ? 200 : 60
            power = setpoint > temperature ? int((setpoint - temperature) * 2) : 0
            if (power > 100) power = 100
            temperature += (setpoint - temperature) * 0.0015 + (rand() - 0.5) * 0.4
            shown = temperature + (written % 77777 == 0 ? 50 : 0)
            printf "%s;%d;%d;%d;\r\n", stamp, setpoint * 10, int(shown * 10), power
        }
    }' >"$1"
}
file=$work/REC_2026-12-13_00-00-00.csv
generate "$file" "$records"
echo "Recording: $(wc -l <"$file") lines, $(($(stat -c %s "$file") / 1000000)) MB" >&2

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# seconds COMMAND...: wall-clock seconds of one run.
seconds() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f\n", b - a }'
}

# The viewer's own figures, one process per run.
for _ in $(seq "$runs"); do
    QT_QPA_PLATFORM=offscreen "$bench" "$file" 1920x1080 >>"$work/results"
done
echo
echo "| Figure | Median of $runs runs | Runs |"
echo "|---|---|---|"
for key in open_and_first_picture_ms open_and_first_picture_cpu_ms redraw_median_ms redraw_p95_ms redraw_cpu_median_ms redraw_cpu_p95_ms redraw_median_ms_all \
    redraw_max_ms_all redraw_median_ms_week redraw_median_ms_day redraw_median_ms_hour redraw_median_ms_minute \
    redraw_max_ms_minute bytes_per_record; do
    values=$(awk -v k="$key" '$1 == "RESULT" && $2 == k { print $3 }' "$work/results")
    printf '| %s | %s | %s |\n' "$key" "$(median <<<"$values")" "$(echo $values | sed 's/ /, /g')"
done

# tkview --png and gnuplot on the same file and the same two columns, in turns.
cat >"$work/plot.gp" <<GP
set terminal pngcairo size 1920,1080
set output '$work/gnuplot.png'
set datafile separator ';'
set datafile missing '8888'
set xdata time
set timefmt '%d/%m/%Y %H:%M:%S'
plot '$file' using 1:(\$3/10) with lines lc rgb 'green' title 'Temperature', \
     '' using 1:(\$2/10) with lines lc rgb 'red' title 'Setpoint'
GP
for _ in $(seq "$runs"); do
    seconds "$tkview" --png "$work/tkview.png" --size 1920x1080 "$file" >>"$work/tkview.s"
    seconds gnuplot "$work/plot.gp" >>"$work/gnuplot.s"
done
[ -s "$work/tkview.png" ] && [ -s "$work/gnuplot.png" ] || { echo "a picture is missing" >&2; exit 1; }
t=$(median <"$work/tkview.s")
g=$(median <"$work/gnuplot.s")
echo
echo "| Program | Median of $runs runs (s) | Runs (s) |"
echo "|---|---|---|"
echo "| tkview --png --size 1920x1080 | $t | $(paste -sd, "$work/tkview.s" | sed 's/,/, /g') |"
echo "| gnuplot (pngcairo 1920,1080) | $g | $(paste -sd, "$work/gnuplot.s" | sed 's/,/, /g') |"
awk -v t="$t" -v g="$g" 'BEGIN { printf "\ngnuplot / tkview: %.1f times\n", g / t }'
