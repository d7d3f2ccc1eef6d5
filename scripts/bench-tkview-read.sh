#!/usr/bin/env bash
# tkview's reading of a recording of 1,000,000 records (one a second for 11.6
# days, about 37 MB, written in fr_FR by the program's own record functions,
# with a 300-record outage): medians over the runs of the read, the detail
# levels, a 1920-column chart at two zooms, and the memory a record costs.
# The read's wall time and its CPU time (both cores) are given: on a loaded
# machine the wall time grows, the CPU time much less.
#
#   scripts/bench-tkview-read.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-bench}
runs=${2:-7}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j2 --target tkmkrec bench_tkview_read >/dev/null
data=$build_dir/bench-tkview
if [ ! -f "$data/REC_2026-12-08_21-33-01.csv" ]; then
    mkdir -p "$data"
    "$build_dir/tools/tkmkrec" --locale fr_FR --count 1000000 --outage 500000:300 "$data" >/dev/null
fi
"$build_dir/tests/bench/bench_tkview_read" "$data/REC_2026-12-08_21-33-01.csv" "$runs"
