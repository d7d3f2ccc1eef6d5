#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the program in
# demo/ (its settings and recording files go there) against the simulated
# controller tksim. Fault options for the simulator can be given in TKSIM_ARGS,
# for example: TKSIM_ARGS="--drop 0.2 --noise 0.1" scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Only what runs here: the tests and benchmarks are left to scripts/test.sh.
scripts/build.sh build tkcontrol tksim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found (DISPLAY is not set). Run this from a desktop session," >&2
    echo "or under a virtual one: xvfb-run -a scripts/run.sh" >&2
    exit 1
fi

tksim=build/tools/tksim
if [ ! -x "$tksim" ]; then
    echo "The simulator $tksim was not built (is libmodbus-dev installed?)." >&2
    exit 1
fi

# ini_set FILE SECTION KEY VALUE [keep]
# Sets KEY=VALUE in [SECTION] of FILE, adding the section or the key when
# absent; with "keep", an existing key keeps its value. Section and key names
# compare without regard to case, as the program reads them; every other line
# stays as it was, and CR LF files get CR LF lines.
ini_set() {
    local file=$1 section=$2 key=$3 value=$4 keep=${5:-}
    [ -f "$file" ] || : >"$file"
    awk -v section="$section" -v key="$key" -v value="$value" -v keep="$keep" '
        function trim(s) { gsub(/^[ \t]+|[ \t\r]+$/, "", s); return s }
        function add() { print key "=" value eol; done = 1 }
        NR == 1 && /\r$/ { eol = "\r" }
        {
            line = trim($0)
            if (line ~ /^\[/) {
                if (inside && !done) add()
                name = line; sub(/^\[/, "", name); sub(/\].*$/, "", name)
                inside = tolower(trim(name)) == tolower(section)
                seen = seen || inside
            } else if (inside && !done && line !~ /^;/ && index(line, "=") > 0 &&
                       tolower(trim(substr(line, 1, index(line, "=") - 1))) == tolower(key)) {
                done = 1
                if (keep != "keep") { print key "=" value eol; next }
            }
            print
        }
        END {
            if (inside && !done) add()
            if (!seen) { print "[" section "]" eol; add() }
        }
    ' "$file" >"$file.new"
    mv "$file.new" "$file"
}

mkdir -p demo
link="$PWD/demo/tk-sim-port"
conf=demo/conf.ini
ini_set "$conf" "Ports" 1 "$link"
ini_set "$conf" "TK840 TK960 PC control" ComPortNum 1 keep
if ! grep -Eiq '^[[:space:]]*ComPortNum[[:space:]]*=[[:space:]]*1[[:space:]]*$' "$conf"; then
    echo "Note: $conf names another port than 1 in ComPortNum; the simulator is on port 1." >&2
fi

# The simulator's own fault options come after ours, so they can override them.
read -r -a extra_args <<<"${TKSIM_ARGS:-}"
rm -f demo/tksim.out
"$tksim" --link "$link" --log demo/tksim.log "${extra_args[@]}" >demo/tksim.out 2>&1 &
sim_pid=$!
app_pid=
# Whatever ends this script ends the program and the simulator with it.
stop_all() {
    kill -TERM ${app_pid:+"$app_pid"} "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

for _ in $(seq 100); do
    grep -q "^tksim ready on " demo/tksim.out 2>/dev/null && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "The simulator did not start:" >&2
        cat demo/tksim.out >&2
        exit 1
    fi
    sleep 0.1
done
if ! grep -q "^tksim ready on " demo/tksim.out; then
    echo "The simulator did not get ready within 10 seconds." >&2
    exit 1
fi
echo "Simulated controller on $link (its log: demo/tksim.log)."

# In the background, so that a signal to this script is handled at once
# rather than when the window closes.
cd demo
../build/app/tkcontrol &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=
exit "$status"
