#!/usr/bin/env bash
# A plant in small: tkrecord on a bus of 4 simulated controllers, the third
# silenced from a third of the run to two thirds and then back, scraped by
# Prometheus, alerts routed by Alertmanager to a webhook. At the end it prints
# each controller's records, the labelled metrics, what reached the webhook
# and every Grafana dashboard query answered per controller. Not run by CI.
# Builds into build-bench (or the folder given as first argument).
#
# Environment: DEMO_SECONDS (length of the run, default 600).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

build_dir=${1:-build-bench}
seconds=${DEMO_SECONDS:-600}
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "prometheus prometheus-alertmanager python3 curl" cmake prometheus prometheus-alertmanager python3 curl
bench_build "$build_dir" tksim tkrecord
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord

bench_workspace tk-plant-demo

silent_from=$((seconds / 3))
silent_to=$((2 * seconds / 3))
"$tksim" --link "$work/port" --log "$work/tksim.log" --address 10,11,12,13 \
    --setpoint 200,250,180,220 --speed 10 --silence "12@$silent_from-$silent_to" \
    >"$work/tksim.out" 2>&1 &
children+=($!)
wait_for "$work/tksim.out" "^tksim ready on " $!

printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\ninterv_record=10\n[Controllers]\nfurnace-1=10\nfurnace-2=11\nfurnace-3=12\nfurnace-4=13\n[Alarms]\nLinkLostAfter=30\n' \
    "$work/port" >"$work/conf.ini"
"$tkrecord" --dir "$work" --metrics 127.0.0.1:0 >"$work/tkrecord.out" 2>&1 &
pid=$!
children+=("$pid")
wait_for "$work/tkrecord.out" "metrics at http://" "$pid"
target=$(sed -n 's|.*metrics at http://\([^/]*\)/metrics.*|\1|p' "$work/tkrecord.out")

python3 tests/tkrecord/webhook.py >"$work/webhook.out" &
children+=($!)
wait_for "$work/webhook.out" "^listening on " $!
hook_port=$(sed -n 's/^listening on //p' "$work/webhook.out")
am_port=$(free_port)
sed -e "s|http://127.0.0.1:5001/|http://127.0.0.1:$hook_port/|" -e 's/group_wait: 10s/group_wait: 1s/' \
    tkrecord/prometheus/alertmanager.yml >"$work/alertmanager.yml"
prometheus-alertmanager --config.file="$work/alertmanager.yml" --storage.path="$work/am" \
    --cluster.listen-address= --web.listen-address="127.0.0.1:$am_port" >"$work/am.log" 2>&1 &
children+=($!)

prom_port=$(free_port)
cat >"$work/prometheus.yml" <<CONF
global:
  scrape_interval: 5s
  evaluation_interval: 5s
rule_files:
  - $PWD/tkrecord/prometheus/tkrecord-alerts.yml
alerting:
  alertmanagers:
    - static_configs:
        - targets: ["127.0.0.1:$am_port"]
scrape_configs:
  - job_name: tkrecord
    static_configs:
      - targets: ["$target"]
CONF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
    --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
children+=($!)
wait_for "$work/prometheus.log" "Server is ready to receive web requests" $!

echo "Running for $seconds s, furnace-3 silent from $silent_from s to $silent_to s (work folder $work) ..."
sleep "$seconds"

echo
echo "== labelled metrics at the end (tk_link_up, tk_polls_total ok and no_answer, tk_records_total)"
curl -s "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode \
    'query={__name__=~"tk_link_up|tk_records_total"} or tk_polls_total{result=~"ok|no_answer"}' |
    python3 -c 'import json, sys
for s in json.load(sys.stdin)["data"]["result"]:
    print(s["metric"]["__name__"], {k: v for k, v in s["metric"].items() if k in ("controller", "address", "result")}, s["value"][1])'
echo
echo "== alerts at the webhook"
python3 -c 'import json, sys
for line in open(sys.argv[1]).readlines()[1:]:
    for a in json.loads(line)["alerts"]:
        l = a["labels"]
        print(a["status"], l["alertname"], l.get("controller"), l.get("address"), l.get("alarm", ""), a["startsAt"], a["endsAt"])' "$work/webhook.out"
echo
echo "== dashboard queries, series per controller"
python3 - "$prom_port" packaging/tkrecord-dashboard.json <<'PY'
import json, sys, urllib.parse, urllib.request
port, dashboard = sys.argv[1], json.load(open(sys.argv[2]))
for panel in dashboard["panels"]:
    for target in panel["targets"]:
        counts = []
        for name in ("furnace-1", "furnace-2", "furnace-3", "furnace-4"):
            expr = target["expr"].replace("$controller", name)
            url = f"http://127.0.0.1:{port}/api/v1/query?" + urllib.parse.urlencode({"query": expr})
            counts.append(f"{name} {len(json.load(urllib.request.urlopen(url))['data']['result'])}")
        print(f"{panel['title']}: {target['expr']}: {', '.join(counts)}")
PY
kill -TERM "$pid"
wait "$pid" || true
echo
echo "== tkrecord's lines"
cat "$work/tkrecord.out"
echo
echo "== records per controller: count, silent (8888;8888;0) records, last"
for name in furnace-1 furnace-2 furnace-3 furnace-4; do
    file=$(ls "$work/$name"/REC_*.csv)
    total=$(($(wc -l <"$file") - 1))
    silent=$(grep -c ';8888;8888;0;' "$file" || true)
    echo "$name: $total records, $silent without values, last: $(tail -n 1 "$file")"
done
