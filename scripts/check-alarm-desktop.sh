#!/usr/bin/env bash
# The alarm of tkcontrol as the operator meets it, against real servers: the
# desktop notification on a private session bus with dunst showing it (its
# Notify call captured with dbus-monitor, acknowledged through dunstctl), and
# the tone on a PulseAudio null sink whose monitor is recorded and measured
# with sox. tksim plays 290.0 degrees, then 312.4 above HighLimit=300.
#
#   scripts/check-alarm-desktop.sh [BUILD_DIR] [SHOT_DIR]
#
# SHOT_DIR, when given, receives the screen with the band and the
# notification (alarm-notification.png) and after the acknowledgement
# (alarm-acknowledged.png). Takes some 20 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
shots=${2:-}
[ -n "$shots" ] && shots=$(realpath "$shots")
work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-alarm-desktop: $*" >&2; exit 1; }
source scripts/within.sh

"$build/tools/tksim" --link "$work/tty" --script "0:2900,3000,45;1:3124,3000,45" \
    > "$work/tksim.out" 2> "$work/tksim.log" &
pids+=($!)
within 10 grep -q "ready" "$work/tksim.out" || fail "tksim did not start"
printf '[Ports]\n1=%s\n[Alarms]\nHighLimit=300\nSound=1\n' "$work/tty" > "$work/conf.ini"

# PulseAudio of its own: no configuration, no other client, a null sink.
export PULSE_RUNTIME_PATH="$work/pulse" PULSE_SERVER="unix:$work/pulse/native"
mkdir -p "$PULSE_RUNTIME_PATH"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --load="module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" \
    --load="module-null-sink sink_name=alarm" --load="module-always-sink" \
    > "$work/pulse.log" 2>&1 &
pids+=($!)
within 10 pactl info > /dev/null 2>&1 || fail "PulseAudio did not start"
pactl set-default-sink alarm
parecord --device=alarm.monitor --file-format=wav "$work/tone.wav" &
pids+=($!)

# A display number no other server holds, chosen by Xvfb itself.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$work/display" > /dev/null 2>&1 &
pids+=($!)
within 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$work/display")

# The rest on a session bus of its own, as a desktop would have.
export work build shots
dbus-run-session -- bash -euo pipefail -c '
    source scripts/within.sh
    dbus-monitor "interface=org.freedesktop.Notifications" > "$work/bus.log" 2>&1 &
    monitor=$!
    dunst > "$work/dunst.log" 2>&1 &
    dunst=$!
    owned() {
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications |
            grep -q "boolean true"
    }
    within 10 owned
    (cd "$work" && exec "$build/app/tkcontrol") > "$work/tkcontrol.log" 2>&1 &
    tkcontrol=$!
    ok=0
    if within 30 grep -q "ALARM – High temperature" "$work/bus.log"; then
        sleep 1 # dunst draws it
        [ -z "$shots" ] || import -window root "$shots/alarm-notification.png"
        sleep 3 # a beep or two on the sink
        dunstctl action 0
        if within 10 xdotool search --name "^TK840 TK960 PC control$" > /dev/null; then
            ok=1
            [ -z "$shots" ] || import -window root "$shots/alarm-acknowledged.png"
        fi
    fi
    kill $tkcontrol $dunst $monitor 2>/dev/null || true
    wait 2>/dev/null || true
    [ $ok = 1 ]
' || { cat "$work/tkcontrol.log" "$work/bus.log" >&2 || true; fail "no notification, or not acknowledged"; }

grep -q 'string "ALARM – High temperature"' "$work/bus.log" || fail "Notify summary"
grep -q 'string "High temperature 312.4 °C since ' "$work/bus.log" || fail "Notify body"
grep -q 'string "Acknowledge"' "$work/bus.log" || fail "Notify has no Acknowledge action"
grep -q 'member=CloseNotification' "$work/bus.log" || fail "notification not withdrawn"
echo "notification: Notify with \"ALARM – High temperature\", acknowledged through dunst"

kill "${pids[2]}"; wait "${pids[2]}" 2>/dev/null || true
peak=$(sox "$work/tone.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
rms=$(sox "$work/tone.wav" -n stat 2>&1 | awk '/RMS     amplitude/ {print $3}')
echo "tone: peak $peak, RMS $rms of full scale on the null sink"
awk -v p="$peak" 'BEGIN { exit !(p > 0.3) }' || fail "no tone on the sink (peak $peak)"
