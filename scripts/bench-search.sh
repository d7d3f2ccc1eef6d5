#!/usr/bin/env bash
# Times "tkrecord --probe", the controller search of the Parameters dialog:
# (a) three ptys where nothing answers (every address asked after 9: the
# worst case), (b) the same with tksim answering only at 9600 bit/s behind
# port 3 while conf.ini says 19200, (c) as (b) with a bus of addresses 10
# and 11, found by asking the other addresses. The machine's own
# serial devices are searched too and named in the output. Prints the median
# of RUNS runs (default 5) of the search's own time and of the whole process.
# Usage: scripts/bench-search.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
build=${BUILD:-build}
cmake --build "$build" --target tkrecord tksim -j2 >/dev/null
tkrecord=$PWD/$build/tkrecord/tkrecord
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools socat socat
bench_workspace bench-search

for n in 1 2 3; do
    socat "pty,link=$work/silent$n,raw,echo=0" "pty,link=$work/unread$n,raw,echo=0" &
    children+=($!)
done
"$build/tools/tksim" --link "$work/sim" --baud 9600 --check-baud 1 >/dev/null 2>&1 &
children+=($!)
"$build/tools/tksim" --link "$work/bus" --baud 9600 --check-baud 1 --address 10,11 >/dev/null 2>&1 &
children+=($!)
for _ in $(seq 50); do
    [ -e "$work/silent3" ] && [ -e "$work/sim" ] && [ -e "$work/bus" ] && break
    sleep 0.1
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

run_case() {
    local name=$1 port3=$2 expect=$3
    printf '[Ports]\n1=%s\n2=%s\n3=%s\n[TK840 TK960 PC control]\nComPortNum=1\nComPortSpeed=19200\n' \
        "$work/silent1" "$work/silent2" "$port3" >"$work/conf.ini"
    local search=() whole=() status
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s%N)
        set +e
        (cd "$work" && "$tkrecord" --probe) >"$work/out" 2>&1
        status=$?
        set -e
        end=$(date +%s%N)
        [ "$status" -eq "$expect" ] || { cat "$work/out"; echo "$name: exit $status" >&2; exit 1; }
        search+=("$(grep -Eo 'in [0-9.]+ s' "$work/out" | tail -1 | tr -dc '0-9.')")
        whole+=("$(( (end - start) / 1000000 ))")
    done
    echo "== $name: $(grep -o '[0-9]* tries' "$work/out" | tail -1), $(head -1 "$work/out")"
    echo "   search median $(printf '%s\n' "${search[@]}" | median) s," \
        "process median $(printf '%s\n' "${whole[@]}" | median) ms ($runs runs)"
}

run_case "nothing answers (3 ptys)" "$work/silent3" 1
tail -n +2 "$work/out" | head -40
run_case "tksim at 9600 bit/s on port 3" "$work/sim" 0
cat "$work/out"
run_case "tksim at 9600 bit/s on port 3, addresses 10 and 11" "$work/bus" 0
cat "$work/out"
