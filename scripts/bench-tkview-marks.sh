#!/usr/bin/env bash
# tkview's report of a year of daily files (365 unsealed files of 48 records)
# with 100,000 marks in the folder's audit.log: the time to make the PDF, its
# pages, and the median of BENCH_RUNS runs (default 5). The figures depend on
# the machine and its load: compare runs on the same machine only.
# Builds into build-bench (or the folder given as first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C TZ=UTC QT_QPA_PLATFORM=offscreen

build_dir=${1:-build-bench}
runs=${BENCH_RUNS:-5}
marks=${BENCH_MARKS:-100000}

echo "Building into $build_dir ..." >&2
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j2 --target tkview >/dev/null
tkview=$PWD/$build_dir/tkview/tkview

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$marks" <<'PY'
import datetime, os, sys
folder, marks = sys.argv[1], int(sys.argv[2])
start = datetime.datetime(2025, 12, 11)
entries = []
for day in range(365):
    t = start + datetime.timedelta(days=day)
    name = t.strftime("REC_%Y-%m-%d_%H-%M-%S.csv")
    lines = ["Time;Setpoint;Temperature;Power;"]
    for i in range(48):
        at = t + datetime.timedelta(minutes=30 * i)
        lines.append('"%s";2000;%d;50;' % (at.strftime("%d/%m/%Y %H:%M:%S"), 1950 + (7 * i + day) % 100))
    with open(os.path.join(folder, name), "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    entries.append((t, "recording started: " + name))
year = 365 * 86400
entries += [(start + datetime.timedelta(seconds=k * year // marks), 'event: mark %d; by "bench"' % k)
            for k in range(marks)]
entries.sort(key=lambda e: e[0])
with open(os.path.join(folder, "audit.log"), "w", newline="") as f:
    for n, (t, event) in enumerate(entries, 1):
        f.write("%d;%s+00:00;bench;host;tkrecord 1.02;%s\r\n" % (n, t.strftime("%Y-%m-%dT%H:%M:%S"), event))
PY

times=()
for _ in $(seq "$runs"); do
    begin=$(date +%s.%N)
    "$tkview" --report "$work/report.pdf" "$work" 2>/dev/null || true
    times+=("$(awk -v b="$begin" -v e="$(date +%s.%N)" 'BEGIN {printf "%.2f", e - b}')")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
pages=$(pdfinfo "$work/report.pdf" | awk '/^Pages:/ {print $2}')
echo "report of 365 files and $marks marks: median ${median} s over $runs runs, $pages pages"
