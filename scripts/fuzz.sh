#!/usr/bin/env bash
# Bounded fuzzing: the libFuzzer binaries of the sanitizer tree build-asan/
# (built by scripts/sanitize.sh, or here; see scripts/sanitize-tree.sh), each
# run for the given number of seconds (default 30) on a copy of its corpus,
# so the corpus in the repository never changes. Two targets run at a time,
# one per core. Exits non-zero when any target found a crash or a broken
# property, and prints that input in hex.
#   scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
targets=(fuzz_receive fuzz_request fuzz_leadingnumber fuzz_profile fuzz_startup fuzz_seal fuzz_recorderstate fuzz_sharerequest fuzz_clientrequest)
source scripts/sanitize-tree.sh
build_dir=$sanitizer_dir

[ -f "$build_dir/CMakeCache.txt" ] || configure_sanitizer_tree
cmake --build "$build_dir" --target "${targets[@]/%/_libfuzzer}" -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

fuzz() {
    local target=$1
    mkdir -p "$work/$target/corpus" "$work/$target/found"
    cp tests/fuzz/corpus/"$target"/* "$work/$target/corpus/"
    if "$build_dir/tests/fuzz/${target}_libfuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/$target/found/" "$work/$target/corpus" \
        >"$work/$target/log" 2>&1; then
        echo 0 >"$work/$target/status"
    else
        echo 1 >"$work/$target/status"
    fi
}

report() {
    local target=$1
    echo "== $target, ${seconds} s"
    if [ "$(cat "$work/$target/status")" != 0 ]; then
        tail -n 40 "$work/$target/log"
        for input in "$work/$target/found"/*; do
            [ -f "$input" ] || continue
            echo "-- failing input $(basename "$input"):"
            od -An -tx1 -v "$input"
        done
    fi
    # The last status line (executions, coverage, corpus) and the speed.
    grep -E '^#[0-9]+' "$work/$target/log" | tail -n 1 || true
    grep -E 'stat::average_exec_per_sec' "$work/$target/log" || true
}

status=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
    pair=("${targets[@]:i:2}")
    for target in "${pair[@]}"; do
        fuzz "$target" &
    done
    wait
    for target in "${pair[@]}"; do
        report "$target"
        [ "$(cat "$work/$target/status")" = 0 ] || status=1
    done
done
exit "$status"
