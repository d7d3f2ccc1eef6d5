#!/usr/bin/env bash
# Two real tkcontrol windows on one real tkrecord polling tksim (three
# controllers, the third over its high limit), under a virtual screen: the
# first window run by this user, the second by nobody (let onto the
# recorder's socket through its group). Shows, with a screenshot of each
# step in OUTDIR:
#   - both windows attached (shot 1-first.png, 1-second.png);
#   - the alarm acknowledged with the first window's band key, seen
#     acknowledged in the second (2-*.png);
#   - a mark from the first window's "Mark event…" key, and a setpoint write
#     from the second window's "Setpoint…" that the recorder refuses to
#     nobody, who is not in [Control] Writers (2-setpoint.png), in the
#     recorder's trail with the users the kernel names;
#   - the shop-floor page in headless chromium (3-page.png);
#   - the recorder killed: both windows "Not connected" (4-*.png), nothing
#     shown as current; started again: the time each takes to be back
#     (5-*.png).
# Usage: scripts/demo-attached.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C.UTF-8
build=${BUILD:-build}
cmake --build "$build" --target tkcontrol tkrecord tksim -j2 >/dev/null
out=$(realpath -m "${1:-/tmp/tkcontrol-two-windows}")
mkdir -p "$out"
# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
# shellcheck source=attached-setup.sh
source scripts/attached-setup.sh
bench_workspace demo-attached
need_tools "xdotool imagemagick" Xvfb xdotool import curl setpriv /usr/bin/python3
# nobody reaches the recorder's socket in here.
chmod 755 "$work"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f s", b - a }'; }
shoot() { import -window "$2" "$out/$1.png"; }
# The clients the recorder counts on its socket.
windows() { curl -s "$url/metrics" 2>/dev/null | awk '/^tk_clients\{kind="window"\}/ { print $2 }' || true; }
# until_windows COUNT: until the recorder serves and counts COUNT windows
# ("" for serving at all), at most 20 s.
until_windows() {
    local count
    for _ in $(seq 400); do
        count=$(windows)
        [ -n "$count" ] && { [ -z "$1" ] || [ "$count" = "$1" ]; } && return 0
        sleep 0.05
    done
    echo "the recorder never counted ${1:-any} windows" >&2
    return 1
}

# dialog_of PID WINDOW: the window PID shows beside WINDOW, once it shows.
dialog_of() {
    local found
    for _ in $(seq 100); do
        found=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | grep -vx "$2" | head -1) &&
            [ -n "$found" ] && { echo "$found"; return; }
        sleep 0.1
    done
    echo "no dialog showed" >&2
    return 1
}

start_screen 2200x800
start_oven_line "$(id -gn)"
port=$(free_port)
url=http://127.0.0.1:$port
start_recorder --metrics "127.0.0.1:$port"
wait_for "$work/tkrecord.out" "/metrics$" "$recorder_pid"
# Some time of the recorder's own: the graphs start full, oven-3 is over its limit.
sleep 20

start_window first
first=$window
first_pid=$window_pid
start_window second setpriv --reuid=nobody --regid=nogroup --groups="$(id -g)"
second=$window
second_pid=$window_pid
xdotool windowmove "$first" 0 0 windowmove "$second" 1100 0
until_windows 2
sleep 3
echo "== both attached (recorder counts $(windows) windows)"
shoot 1-first "$first"
shoot 1-second "$second"

echo "== the first window's Acknowledge"
xdotool mousemove --window "$first" 370 38 click 1
sleep 2
shoot 2-first "$first"
shoot 2-second "$second"

echo "== the first window's Mark event…"
xdotool mousemove --window "$first" 44 388 click 1
ask_window=$(dialog_of "$first_pid" "$first")
xdotool windowfocus --sync "$ask_window" type --delay 20 "Door opened"
xdotool key Return
sleep 1

echo "== the second window's Setpoint…: 120 °C for oven-1, asked by nobody"
xdotool mousemove --window "$second" 44 476 click 1
dialog=$(dialog_of "$second_pid" "$second")
xdotool windowmove --sync "$dialog" 1100 0 windowfocus --sync "$dialog"
xdotool mousemove --window "$dialog" 230 61 click 1 type --delay 20 "120"
xdotool mousemove --window "$dialog" 305 137 click 1
sleep 1
# "Confirm" in the place of "Write…", the dialog grown by its question.
height=$(xdotool getwindowgeometry --shell "$dialog" | sed -n 's/^HEIGHT=//p')
xdotool mousemove --window "$dialog" 305 $((height - 23)) click 1
sleep 2
shoot 2-setpoint "$dialog"
xdotool windowfocus --sync "$dialog" key Escape

echo "== the recorder's trail: who acknowledged, marked, was refused"
grep -a -e '; by "' "$recorder/audit.log" || true

echo "== the shop-floor page"
/usr/bin/python3 - "$url" "$out/3-page.png" <<'PY'
import sys
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait
options = webdriver.ChromeOptions()
for option in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
               "--window-size=1280,800"):
    options.add_argument(option)
options.binary_location = "/usr/bin/chromium"
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    driver.get(sys.argv[1] + "/")
    WebDriverWait(driver, 20).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, ".ctl")) == 3)
    WebDriverWait(driver, 20).until(
        lambda d: all(e.text not in ("", "–") for e in d.find_elements(By.CSS_SELECTOR, ".measure")))
    for card in driver.find_elements(By.CSS_SELECTOR, ".ctl"):
        print(" ", card.text.replace("\n", " | "))
    driver.save_screenshot(sys.argv[2])
finally:
    driver.quit()
PY

echo "== the recorder killed"
kill -KILL "$recorder_pid"
killed=$(now)
sleep 2
shoot 4-first "$first"
shoot 4-second "$second"
sleep 3
started=$(now)
start_recorder --metrics "127.0.0.1:$port"
until_windows ""
serving=$(now)
until_windows 2
back=$(now)
echo "killed; started again $(since "$killed" "$started") later; serving $(since "$started" "$serving") after its start;"
echo "both windows on its socket again $(since "$serving" "$back") after it serves"
sleep 2
shoot 5-first "$first"
shoot 5-second "$second"
echo "== what the recorder said"
cat "$work/tkrecord.out"
ls "$out"
