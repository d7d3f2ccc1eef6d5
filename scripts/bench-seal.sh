#!/usr/bin/env bash
# What sealing costs (docs/benchmarks.md): the time the seal adds to one
# record (median of 200 records, each appended and synced as the recorder
# does, with and without the seal, in turn) for a new file and for a day of
# one-second records, the bytes written per record (write calls, from
# /proc/self/io) over 128 records at the start of a file and after 86,400,
# the bytes sent towards the disk per record (write_bytes of /proc/PID/io)
# plain and sealed, back to back and with the pages written back between
# records, the fsyncs and renames per sealed record (strace, when there),
# and how fast verification reads a recording of a million records (median
# of 5). Builds bench_seal into build-bench (or the
# folder given as first argument), writes in that folder (the disk the
# recordings would go to) and prints the median of RUNS runs (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

build_dir=${1:-build-bench}
runs=${RUNS:-3}

echo "Building into $build_dir ..."
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j2 --target bench_seal >/dev/null
results=$PWD/$build_dir/bench-seal.txt
: >"$results"
for run in $(seq "$runs"); do
    echo "Run $run of $runs ..."
    "$build_dir/tests/bench/bench_seal" "$PWD/$build_dir" | tee -a "$results"
done

if command -v strace >/dev/null; then
    echo "System calls of 1000 sealed records ..."
    counted=$PWD/$build_dir/bench-seal-strace.txt
    strace -f -c -o "$counted" -e trace=fsync,fdatasync,rename,renameat,renameat2 \
        "$build_dir/tests/bench/bench_seal" "$PWD/$build_dir" --records 1000 >/dev/null
    for call in fsync fdatasync rename renameat renameat2; do
        calls=$(awk -v c="$call" '$NF == c { print $4 }' "$counted")
        echo "RESULT ${call}_per_record $(awk -v n="${calls:-0}" 'BEGIN { printf "%.3f", n / 1000 }')" \
            >>"$results"
    done
fi

echo
echo "Medians of $runs runs:"
for key in $(awk '$1 == "RESULT" { print $2 }' "$results" | sort -u); do
    values=$(awk -v k="$key" '$1 == "RESULT" && $2 == k { print $3 }' "$results" | sort -g)
    count=$(echo "$values" | wc -l)
    median=$(echo "$values" | sed -n "$(((count + 1) / 2))p")
    printf '%-22s %10s   (runs: %s)\n' "$key" "$median" "$(echo "$values" | tr '\n' ' ')"
done
