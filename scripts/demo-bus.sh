#!/usr/bin/env bash
# tkrecord on a line of 40 configured controllers of which 8 answer, with
# [Bus] AnswerTimeout=1000, told as it happens. Once the silent ones are
# stale: tkrecord's state lines and the metrics that matter (tk_link_up,
# tk_bus_round_seconds, tk_alarm_active, tk_polls_total). Then controller 3
# falls silent for a while (tksim's --silence): when its last answer came,
# when its link-lost alarm was raised (LinkLostAfter, 30 s, later) as
# tk_alarm_active{alarm="link"} showed it, scraped every 0.2 s, and the
# trail's lines; then it answers again and the alarm clears. The real
# tksim and tkrecord, built into build-bench (or BUILD).
#
#   scripts/demo-bus.sh [SILENT_FROM [SILENT_FOR [BUILD]]]
#
# SILENT_FROM: seconds after tksim's start when controller 3 falls silent
# (default 40); SILENT_FOR: for how long (default 45).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C
silent_from=${1:-40}
silent_for=${2:-45}
build_dir=${3:-build-bench}
controllers=40
live=8
quiet=3
link_lost_after=30

# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "curl python3" cmake curl python3
bench_build "$build_dir" tksim tkrecord
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord
bench_workspace tk-demo-bus

start_bus_sim "$work/bus" "$(seq -s, 1 "$controllers")" \
    --silent "$(seq -s, $((live + 1)) "$controllers")" \
    --silence "$quiet@$silent_from-$((silent_from + silent_for))"
# tksim's start, wall clock: its times count from there.
sim_start=$(awk '/tksim ready on / { print $2; exit }' "$work/tksim.log")
write_bus_conf "$work/conf.ini" "$work/bus" "$controllers" 1000
printf '[Alarms]\nLinkLostAfter=%s\n' "$link_lost_after" >>"$work/conf.ini"
start_recorder "$work"

scrape() { curl -sf "http://$metrics/metrics"; }
now() { date +%s.%N; }
# Sleeps until SECONDS after tksim's start.
until_second() {
    local left
    left=$(awk -v s="$sim_start" -v at="$1" -v now="$(now)" 'BEGIN { d = s + at - now; print (d > 0 ? d : 0) }')
    sleep "$left"
}
link_alarm() {
    scrape | awk -v c="c$quiet" '$1 == "tk_alarm_active{controller=\"" c "\",address=\"" substr(c, 2) "\",alarm=\"link\"}" { print $2 }'
}

echo "== conf.ini"
grep -v '^c[0-9]*=' "$work/conf.ini"
echo "c1=1 ... c$controllers=$controllers; tksim answers for 1 to $live, c$quiet silent from $silent_from s to $((silent_from + silent_for)) s"

until_second $((silent_from - 3))
scrape >"$work/before.prom"
echo
echo "== metrics at $(date +%H:%M:%S), $((silent_from - 3)) s after the start"
python3 - "$work/before.prom" "$live" <<'PY'
import re, sys
live = int(sys.argv[2])
rows = {}
for line in open(sys.argv[1]):
    m = re.match(r'(tk_\w+)\{controller="c(\d+)",address="\d+"(?:,(?:result|alarm)="(\w+)")?\} (\S+)', line)
    if m:
        rows.setdefault(m[1], {}).setdefault(int(m[2]), {})[m[3] or ""] = float(m[4])
    elif line.startswith("tk_bus_round_seconds "):
        print(line, end="")
def each(name, key=""):
    return {c: v.get(key, 0) for c, v in rows.get(name, {}).items()}
up = each("tk_link_up")
print("tk_link_up: " + " ".join(f"c{c}={int(v)}" for c, v in sorted(up.items()) if c <= live)
      + f"; c{live + 1}..c{max(up)}: {sum(v == 1 for c, v in up.items() if c > live)} of "
      f"{sum(c > live for c in up)} at 1")
alarms = rows.get("tk_alarm_active", {})
for c in sorted(alarms):
    if c <= live:
        print(f"tk_alarm_active c{c}: " + " ".join(f"{a}={int(v)}" for a, v in alarms[c].items()))
silent_link = sum(v.get("link", 0) == 1 for c, v in alarms.items() if c > live)
print(f"tk_alarm_active c{live + 1}..c{max(alarms)}: link=1 for {silent_link}, "
      f"other alarms 1 for {sum(any(x for a, x in v.items() if a != 'link') for c, v in alarms.items() if c > live)}")
polls = rows.get("tk_polls_total", {})
for c in sorted(polls):
    if c <= live:
        print(f"tk_polls_total c{c}: " + " ".join(f"{r}={int(v)}" for r, v in polls[c].items() if v))
quiet = [v for c, v in polls.items() if c > live]
print(f"tk_polls_total c{live + 1}..c{max(polls)}: no_answer {int(sum(v.get('no_answer', 0) for v in quiet))} "
      f"in all, {int(min(v.get('no_answer', 0) for v in quiet))} to {int(max(v.get('no_answer', 0) for v in quiet))} each, "
      f"ok {int(sum(v.get('ok', 0) for v in quiet))}")
PY

# The link alarm of the silenced controller, scraped every 0.2 s from its
# silence until it has been raised and cleared, or 90 s after its return:
# the line asks a stale controller only where it holds up no answering one,
# and takes turns among the stale ones.
until_second "$silent_from"
deadline=$(awk -v s="$sim_start" -v at=$((silent_from + silent_for + 90)) 'BEGIN { printf "%.3f", s + at }')
raised=
while :; do
    t=$(now)
    value=$(link_alarm)
    echo "$t $value" >>"$work/watch"
    if [ "$value" = 1 ]; then raised=1; fi
    if [ -n "$raised" ] && [ "$value" = 0 ]; then break; fi
    if awk -v t="$t" -v d="$deadline" 'BEGIN { exit !(t > d) }'; then break; fi
    sleep 0.2
done
scrape >"$work/after.prom"

echo
echo "== c$quiet's link alarm: tksim's answers, the metric as scraped, the trail"
python3 - "$work/tksim.log" "$work/watch" "$sim_start" "$silent_from" "$silent_for" "$quiet" \
    "$link_lost_after" <<'PY'
import re, sys, time
log, watch, start = sys.argv[1], sys.argv[2], float(sys.argv[3])
silent_from, silent_for, quiet, after = float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), float(sys.argv[7])
def clock(t):
    return time.strftime("%H:%M:%S", time.localtime(t)) + f".{int(t * 1000) % 1000:03d}"
answers = []
for line in open(log):
    m = re.match(rf"\S+ (\S+) @{quiet} answer ", line)
    if m:
        answers.append(float(m[1]))
gap_from = start + silent_from
last = max((t for t in answers if t < gap_from), default=None)
back = min((t for t in answers if t >= gap_from), default=None)
samples = [(float(t), v) for t, v in (l.split() for l in open(watch) if len(l.split()) == 2)]
def change(to, since):
    before = None
    for t, v in samples:
        if t < since:
            continue
        if v == to:
            return before, t
        before = t
    return before, None
print(f"last answer before the silence  {clock(last) if last else 'none'}")
lo, hi = change("1", last or start)
if hi is None:
    print("link alarm: never seen raised")
else:
    print(f"link alarm seen 1 at            {clock(hi)} (0 at {clock(lo)}): raised "
          f"{lo - last:.1f} to {hi - last:.1f} s after the last answer (LinkLostAfter {after:.0f} s)")
print(f"first answer after the silence  {clock(back) if back else 'none'}")
if hi is not None:
    lo2, hi2 = change("0", hi)
    if hi2 is None:
        print("link alarm: never seen cleared")
    else:
        print(f"link alarm seen 0 at            {clock(hi2)} (1 at {clock(lo2)}): "
              f"cleared {hi2 - back:+.1f} s from the first answer, {hi2 - hi:.1f} s after it was seen raised")
PY
trail_from=$(date -d "@$(awk -v s="$sim_start" -v f="$silent_from" 'BEGIN { printf "%d", s + f }')" +%Y-%m-%dT%H:%M:%S)
awk -F';' -v c="c$quiet: " -v from="$trail_from" 'substr($2, 1, 19) >= from && index($6, c) == 1' "$work/audit.log"
awk -v c="tk_alarm_active{controller=\"c$quiet\"" 'index($0, c) == 1' "$work/after.prom"

echo
echo "== tkrecord's state lines (the trail's entry numbers and the recordings' names left out)"
grep -v ' audit trail entry \|: recording in ' "$work/tkrecord.out" |
    sed -E 's/(controllers c1 at 1, c2 at 2, ).*(, c40 at 40)/\1...\2/' |
    python3 -c '
import re, sys
live, seen = int(sys.argv[1]), {}
for line in sys.stdin:
    m = re.match(r"\S+ \S+ c(\d+): (.*)", line)
    if not m or int(m[1]) <= live:
        print(line, end="")
        continue
    # The silent ones each say the same: the first two are shown.
    key = re.sub(r"since [0-9:]+", "since ...", m[2])
    seen[key] = seen.get(key, 0) + 1
    if seen[key] <= 2:
        print(line, end="")
    elif seen[key] == 3:
        print("    ... and likewise the other silent ones")
' "$live"
