#!/usr/bin/env bash
# tkrecord with its controllers behind a gateway for a while, told as it
# happened, for each kind: Modbus TCP to tksim's own TCP server (tcp://), and
# RTU over TCP through Debian's ser2net in front of tksim's pseudo-terminal
# (rtu+tcp://). Three controllers answer (oven1 to oven3 at 9, 10, 11); a
# fourth configured address, spare at 12, has nothing behind it. oven3 is
# silent from a fifth of the run to 45 % of it; at 65 % the gateway (tksim
# --tcp, or ser2net) is killed and started again on the same port after
# DEMO_OUTAGE seconds. Prints tkrecord's state lines, the records around the
# silence and the outage, the metrics during the silence, during the outage
# and at the end, the time from the gateway's return to each controller's
# first answer (from tksim's log, stamped as each line is written), and the
# connection events while oven3 was silent. Uses the programs of a build
# folder as they are.
#
#   scripts/demo-gateway.sh [SECONDS [BUILD_DIR]]   (default 600 s a kind, build)
# Environment: DEMO_KINDS (default "tcp rtu+tcp", one after the other; run
# two with one kind each to have them side by side), DEMO_OUTAGE (seconds the
# gateway is away, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

seconds=${1:-600}
build_dir=${2:-build}
kinds=${DEMO_KINDS:-tcp rtu+tcp}
outage=${DEMO_OUTAGE:-2}

# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "curl python3" curl python3
case " $kinds " in *" rtu+tcp "*) need_tools ser2net ser2net ;; esac
case $build_dir in /*) ;; *) build_dir=$PWD/$build_dir ;; esac
tksim=$build_dir/tools/tksim
tkrecord=$build_dir/tkrecord/tkrecord
for program in "$tksim" "$tkrecord"; do
    [ -x "$program" ] || { echo "$program is missing: build $build_dir first." >&2; exit 1; }
done
bench_workspace tk-demo-gateway

silent_from=$((seconds / 5))
silent_to=$((seconds * 45 / 100))
gateway_away=$((seconds * 65 / 100))

# pause_until T: sleeps until T seconds after $start.
pause_until() {
    local left=$(($1 - (SECONDS - start)))
    if [ "$left" -gt 0 ]; then sleep "$left"; fi
}

# run_kind KIND: the whole story for one kind of gateway.
run_kind() {
    local kind=$1 dir=$work/$1 url port gateway sim pid target start
    mkdir -p "$dir"
    local sim_options=(--address "9,10,11" --setpoint "200,150,100")
    start=$SECONDS
    if [ "$kind" = tcp ]; then
        "$tksim" --tcp 0 "${sim_options[@]}" --silence "11@$silent_from-$silent_to" \
            > >(stamped "$dir/tksim.log") 2>&1 &
        gateway=$!
        children+=("$gateway")
        wait_for "$dir/tksim.log" "tksim ready on " "$gateway"
        url=$(sed -n 's|.*tksim ready on \(tcp://[^ ]*\).*|\1|p' "$dir/tksim.log")
        port=${url##*:}
    else
        "$tksim" --link "$dir/line" --baud 19200 "${sim_options[@]}" \
            --silence "11@$silent_from-$silent_to" > >(stamped "$dir/tksim.log") 2>&1 &
        sim=$!
        children+=("$sim")
        wait_for "$dir/tksim.log" "tksim ready on " "$sim"
        port=$(free_port)
        start_ser2net "$dir" "$dir/line" 19200 "$port"
        gateway=$ser2net
        wait_listening "$port" >/dev/null
        url=rtu+tcp://127.0.0.1:$port
    fi
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\ninterv_record=1\n' "$url" \
        >"$dir/conf.ini"
    printf '[Controllers]\noven1=9\noven2=10\noven3=11\nspare=12\n' >>"$dir/conf.ini"
    start_recorder "$dir"
    pid=$recorder
    target=$metrics
    metrics() {
        echo "-- metrics $1"
        curl -s "http://$target/metrics" |
            grep -E '^tk_(link_up|temperature_celsius|setpoint_celsius)\{|^tk_alarm_active\{.*alarm="link"|^tk_polls_total\{controller="(oven3|spare)".*(no_answer|exception)' |
            grep -v 'controller="oven2"' || true
    }

    echo "== $kind: $url, $seconds s; oven3 silent from $silent_from to $silent_to s," \
        "the gateway away at $gateway_away s for $outage s (tkrecord pid $pid)"
    pause_until "$silent_from"
    local lines_before_silence
    lines_before_silence=$(wc -l <"$dir/tkrecord.out")
    pause_until $(((silent_from + silent_to) / 2))
    metrics "while oven3 is silent (oven2 left out: as oven1)" >"$dir/metrics"
    pause_until "$silent_to"
    sed -n "$((lines_before_silence + 1)),\$p" "$dir/tkrecord.out" >"$dir/during-silence"

    pause_until "$gateway_away"
    monotonic >"$dir/away"
    kill -KILL "$gateway"
    wait "$gateway" 2>/dev/null || true
    sleep "$(python3 -c "print($outage / 2)")"
    metrics "while the gateway is away" >>"$dir/metrics"
    sleep "$(python3 -c "print($outage / 2)")"
    if [ "$kind" = tcp ]; then
        "$tksim" --tcp "$port" "${sim_options[@]}" > >(stamped "$dir/tksim-again.log") 2>&1 &
        gateway=$!
        children+=("$gateway")
        wait_for "$dir/tksim-again.log" "tksim ready on " "$gateway"
        sed -n 's/^\([0-9.]*\) tksim ready on .*/\1/p' "$dir/tksim-again.log" >"$dir/back"
    else
        start_ser2net "$dir" "$dir/line" 19200 "$port"
        wait_listening "$port" >"$dir/back"
    fi
    pause_until "$seconds"
    metrics "at the end" >>"$dir/metrics"
    kill -TERM "$pid"
    wait "$pid" || true

    echo "-- tkrecord's state lines ($(grep -c ' audit trail entry ' "$dir/tkrecord.out")" \
        "lines \"audit trail entry N, head ...\" left out)"
    grep -v ' audit trail entry ' "$dir/tkrecord.out"
    echo "-- state lines while oven3 was silent ($silent_from to $silent_to s):" \
        "$(grep -c . "$dir/during-silence" || true) lines," \
        "$(grep -c ' gateway ' "$dir/during-silence" || true) about the gateway's connection"
    cat "$dir/metrics"
    python3 - "$dir" "$(cat "$dir/away")" "$(cat "$dir/back")" "$kind" <<'PY'
import glob, os, re, sys
folder, away, back, kind = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
logs = [folder + "/tksim.log"]
if os.path.exists(folder + "/tksim-again.log"):
    logs.append(folder + "/tksim-again.log")
begin = float(open(logs[0]).readline().split()[0])
if kind == "tcp":
    # tksim is the gateway: it sees each connection made and closed.
    events = [f"{name} {float(t) - begin:.1f} s"
              for log in logs
              for t, name in re.findall(r"^(\S+) ((?:dis)?connected)$", open(log).read(), re.M)]
    print(f"-- the connections tksim saw, from its start: {', '.join(events)} "
          f"(the first tksim was killed at {away - begin:.1f} s)")
print(f"-- the gateway away {back - away:.2f} s; from its return to each controller's first answer (aim <= 2 s):")
first = {}
for line in open(logs[-1]):
    m = re.match(r"(\S+) @(\d+) answer ", line)
    if m and float(m[1]) > back and m[2] not in first:
        first[m[2]] = float(m[1]) - back
for address, name in (("9", "oven1"), ("10", "oven2"), ("11", "oven3")):
    print(f"   {name} at {address}: " + (f"{first[address]:.2f} s" if address in first else "none"))
def records(name):
    rows = []
    for path in sorted(glob.glob(f"{folder}/{name}/REC_*.csv")):
        rows += [l for l in open(path, encoding="latin-1").read().splitlines()[1:] if l]
    return rows
# The records without values, with two before and after: the outage for all,
# the silence too for oven3.
for name in ("oven1", "oven3"):
    rows = records(name)
    empty = [i for i, r in enumerate(rows) if ";8888;8888;0;" in r]
    runs = []
    for i in empty:
        # Runs close together are shown as one.
        if runs and i <= runs[-1][1] + 5:
            runs[-1][1] = i
        else:
            runs.append([i, i])
    print(f"-- {name}: {len(rows)} records, {len(empty)} without values")
    for a, b in runs:
        if a == 0:
            print(f"   the first {b + 1} (before its first answer)")
            continue
        shown = rows[max(0, a - 2):b + 3]
        if len(shown) > 12:
            shown = shown[:5] + [f"... {len(shown) - 10} more ..."] + shown[-5:]
        for r in shown:
            print("   " + r)
        print("   --")
PY
}

echo "$(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg); $seconds s per kind"
for kind in $kinds; do
    run_kind "$kind"
done
echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
