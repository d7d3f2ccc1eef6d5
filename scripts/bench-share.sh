#!/usr/bin/env bash
# tkrecord sharing its values: the delay from a controller's answer to the
# MQTT message at a subscriber (median and 90th percentile, from the answer's
# time in the state to the subscriber's receive time, on one machine's
# clock), and the recorder's CPU while it publishes to a real mosquitto and
# serves 10 Modbus TCP clients (mbpoll) each asking every 100 ms, with three
# tksim controllers on the line. Builds tkrecord and tksim into build-bench
# (or the folder given as first argument).
#
#   scripts/bench-share.sh [BUILD_DIR] [SECONDS]   (default 600 s)
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

build_dir=${1:-build-bench}
seconds=${2:-600}

# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "mosquitto mosquitto-clients mbpoll" cmake mosquitto mosquitto_sub mbpoll python3
bench_build "$build_dir" tksim tkrecord
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord
bench_workspace tk-bench-share

broker_port=$(free_port)
share_port=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest stderr\n' \
    "$broker_port" >"$work/mosquitto.conf"
[ "$(id -u)" -eq 0 ] && echo "user root" >>"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.out" 2>&1 &
children+=($!)
wait_for "$work/mosquitto.out" " running" $!

"$tksim" --link "$work/port" --log "$work/tksim.log" --address 9,10,11 \
    --setpoint 200,150,100 --speed 10 >"$work/tksim.out" 2>&1 &
children+=($!)
wait_for "$work/tksim.out" "^tksim ready on " $!

mkdir "$work/line"
cat >"$work/line/conf.ini" <<CONF
[Ports]
1=$work/port
[TK840 TK960 PC control]
ComPortNum=1
interv_record=1
[Controllers]
oven1=9
oven2=10
oven3=11
[MQTT]
Broker=mqtt://127.0.0.1:$broker_port
Discovery=homeassistant
[Share]
Listen=127.0.0.1:$share_port
CONF

# %U: the receive time, in seconds since the epoch with nanoseconds.
mosquitto_sub -p "$broker_port" -t 'tkcontrol/line/+/state' -F '%U %p' >"$work/received.txt" &
children+=($!)
"$tkrecord" --dir "$work/line" --no-seal >"$work/tkrecord.out" 2>&1 &
pid=$!
children+=("$pid")
wait_for "$work/tkrecord.out" "MQTT connected" "$pid"
wait_for "$work/tkrecord.out" "answers from the controller" "$pid"

for client in $(seq 10); do
    mbpoll -m tcp -p "$share_port" -a $((9 + client % 3)) -0 -r 1 -c 3 -l 100 -o 1 \
        127.0.0.1 >"$work/mbpoll$client.out" 2>&1 &
    children+=($!)
done

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
echo "Running $seconds s with 3 controllers, MQTT and 10 Modbus TCP clients every 100 ms ..."
start_ticks=$(ticks)
start_ns=$(date +%s%N)
sleep "$seconds"
used_ticks=$(($(ticks) - start_ticks))
elapsed_ns=$(($(date +%s%N) - start_ns))

answers=$(cat "$work"/mbpoll*.out | grep -c '^\[1\]:' || true)
refusals=$(cat "$work"/mbpoll*.out | grep -ci 'failed' || true)
python3 - "$work/received.txt" "$used_ticks" "$hz" "$elapsed_ns" "$answers" "$refusals" <<'PY'
import json, statistics, sys
from datetime import datetime
path, ticks, hz, elapsed_ns, answers, refusals = sys.argv[1:]
delays = []
for line in open(path):
    received, _, payload = line.strip().partition(" ")
    try:
        state = json.loads(payload)
    except ValueError:
        continue
    if state.get("time") and state.get("temperature") is not None:
        answered = datetime.fromisoformat(state["time"].replace("Z", "+00:00")).timestamp()
        delays.append((float(received) - answered) * 1000)
seconds = int(elapsed_ns) / 1e9
cpu = int(ticks) / int(hz) / seconds * 100
print(f"state messages with values: {len(delays)}")
if delays:
    delays.sort()
    print(f"answer to MQTT message at the subscriber: median {statistics.median(delays):.1f} ms, "
          f"90th percentile {delays[int(len(delays) * 0.9)]:.1f} ms, max {delays[-1]:.1f} ms")
print(f"Modbus TCP answers read by the 10 clients: {answers} ({float(answers) / seconds:.0f}/s), "
      f"failures: {refusals}")
print(f"tkrecord CPU: {cpu:.2f} % of one core over {seconds:.0f} s")
PY
