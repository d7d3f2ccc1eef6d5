#!/usr/bin/env bash
# tkrecord sharing a line of three simulated controllers for a while, told as
# it happened: oven3 falls silent midway, the MQTT broker is stopped and
# started again later, mbpoll reads each controller at the share, and the
# recorder is killed at the end so that its last will says offline. Prints
# the recorder's state lines, each controller's records (how many, how many
# without values), the subscriber's messages but the
# repeated states, and mbpoll's answers. Uses the programs of a build folder
# as they are.
#
#   scripts/demo-share.sh [SECONDS [BUILD_DIR]]   (default 600 s, build-test)
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

seconds=${1:-600}
build_dir=${2:-build-test}

# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "mosquitto mosquitto-clients mbpoll" mosquitto mosquitto_sub mbpoll python3
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord
for program in "$tksim" "$tkrecord"; do
    [ -x "$program" ] || { echo "$program is missing: build $build_dir first." >&2; exit 1; }
done
bench_workspace tk-demo-share

broker_port=$(free_port)
share_port=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest stderr\n' \
    "$broker_port" >"$work/mosquitto.conf"
[ "$(id -u)" -eq 0 ] && echo "user root" >>"$work/mosquitto.conf"
start_broker() {
    mosquitto -c "$work/mosquitto.conf" >>"$work/mosquitto.out" 2>&1 &
    broker=$!
    children+=("$broker")
    wait_for "$work/mosquitto.out" " running" "$broker"
}
# sleep, but for nothing when a short run leaves no time.
pause() { if [ "$1" -gt 0 ]; then sleep "$1"; fi; }
stamp() { echo "$(date -u +%H:%M:%S) demo: $*" | tee -a "$work/demo.out"; }
start_broker

silent_from=$((seconds / 2))
broker_away=$((seconds * 3 / 4))
"$tksim" --link "$work/port" --address 9,10,11 --setpoint 200,150,100 --speed 10 \
    --silence "11@$silent_from" >"$work/tksim.out" 2>&1 &
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

mosquitto_sub -p "$broker_port" -t 'tkcontrol/#' -F '%I %t %p' >"$work/messages.txt" &
children+=($!)
"$tkrecord" --dir "$work/line" --no-seal >"$work/tkrecord.out" 2>&1 &
pid=$!
children+=("$pid")
wait_for "$work/tkrecord.out" "MQTT connected" "$pid"
stamp "recorder started; oven3 falls silent at ${silent_from} s, the broker goes at ${broker_away} s"

mbpoll_all() {
    local address
    for address in 9 10 11; do
        echo "address $address: $(mbpoll -m tcp -p "$share_port" -a "$address" -0 -r 1 -c 3 -1 \
            -o 2 127.0.0.1 2>&1 | grep -E '^\[|failed|exception|error' | tr '\n' ' ')"
    done
}
pause $((silent_from - 10))
stamp "mbpoll before the silence:"
mbpoll_all | tee -a "$work/demo.out"
pause $((broker_away - silent_from + 10))
stamp "broker stopped"
kill -TERM "$broker"
wait "$broker" || true
sleep 15
start_broker
stamp "broker started again"
pause $((seconds - broker_away - 15))
stamp "mbpoll at the end:"
mbpoll_all | tee -a "$work/demo.out"
stamp "recorder killed (SIGKILL)"
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
for _ in $(seq 100); do
    grep -q 'tkcontrol/line/status offline' "$work/messages.txt" && break
    sleep 0.1
done

echo
echo "== the recorder's state lines"
cat "$work/tkrecord.out"
echo
echo "== records"
for controller in oven1 oven2 oven3; do
    python3 - "$work/line/$controller" "$controller" <<'PY'
import glob, sys
folder, name = sys.argv[1:]
rows = []
for path in sorted(glob.glob(folder + "/REC_*.csv")):
    rows += [l for l in open(path, encoding="latin-1").read().splitlines()[1:] if l]
empty = [";8888;8888;0;" in r for r in rows]
run = longest = 0
for e in empty:
    run = run + 1 if e else 0
    longest = max(longest, run)
print(f"{name}: {len(rows)} records, {sum(empty)} without values (longest run {longest}); "
      f"first {rows[0] if rows else '-'}, last {rows[-1] if rows else '-'}")
PY
done
echo
echo "== the subscriber's messages: events, status, and a controller's state when its link or alarms change"
python3 - "$work/messages.txt" <<'PY'
import json, sys
last, counts = {}, {}
for line in open(sys.argv[1]):
    stamp, topic, payload = (line.rstrip("\n").split(" ", 2) + ["", ""])[:3]
    if topic.startswith("homeassistant/"):
        continue
    if topic.endswith("/state"):
        try:
            state = json.loads(payload)
        except ValueError:
            state = payload
        key = (state.get("link"), state.get("alarms")) if isinstance(state, dict) else state
        counts[topic] = counts.get(topic, 0) + 1
        if last.get(topic) == key:
            continue
        last[topic] = key
    print(stamp, topic, payload)
for topic, count in sorted(counts.items()):
    print(f"{topic}: {count} states in all")
PY
echo
echo "== what the demo did"
cat "$work/demo.out"
