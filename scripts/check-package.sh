#!/usr/bin/env bash
# Checks the Debian package: built afresh (or the .deb given), its menu entry
# and AppStream data valid, lintian without errors or warnings, its
# dependencies resolvable here, and its own files running from an unpacked
# copy under a virtual display: tkcontrol shows what tksim answers, and the
# menu entry's command starts it in the per-user folder.
#
#   scripts/check-package.sh [DEB]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${TK_CHECK_DISPLAY:-}" ]; then
    TK_CHECK_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

if [ $# -gt 0 ]; then
    deb=$1
else
    rm -rf build-pkg
    deb=$(scripts/package.sh)
fi
id=io.github.tkcontrol.tkcontrol
work=$(mktemp -d)
pids=()
cleanup() {
    # KILL: a program held in its start-up message box would outlive a TERM.
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-package: $*" >&2; exit 1; }
source scripts/within.sh

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop=$root/usr/share/applications/$id.desktop
for app in $id io.github.tkcontrol.tkview; do
    desktop-file-validate "$root/usr/share/applications/$app.desktop"
    appstreamcli validate --no-net --strict "$root/usr/share/metainfo/$app.metainfo.xml" \
        >"$work/as" || fail "appstreamcli: $(cat "$work/as")"
done
lintian --fail-on error,warning "$deb" 2> >(grep -v 'root privileges' >&2)
apt-get install --simulate "$(realpath "$deb")" >"$work/apt" 2>&1 || fail "apt-get: $(cat "$work/apt")"

# The unpacked simulator, with a temperature of 111.1 and a setpoint of 888.8.
"$root/usr/bin/tksim" --link "$work/port" --fixed 1111,8888,0 >"$work/tksim.out" 2>/dev/null &
pids+=($!)
within 10 grep -qs "^tksim ready" "$work/tksim.out" || fail "tksim did not start"

# The unpacked program against it. Both read-outs show 888.8 until the first
# answer; then the green one shows 111.1, a third of the lit segments.
mkdir "$work/run"
printf '[Ports]\n1=%s\n' "$work/port" >"$work/run/conf.ini"
(cd "$work/run" && exec "$root/usr/bin/tkcontrol" 2>"$work/tkcontrol.err") &
pids+=($!)
lit() { # lit IMAGE WIDTHxHEIGHT+X+Y COLOUR: share of the area in that colour
    convert "$1" -crop "$2" -fuzz 25% -fill white -opaque "$3" -fill black +opaque white \
        -format '%[fx:mean]' info:
}
value_shown() {
    xwd -silent -name "TK840 TK960 PC control" -out "$work/window.xwd" 2>/dev/null || return 1
    local green red
    green=$(lit "xwd:$work/window.xwd" 153x65+432+32 lime)
    red=$(lit "xwd:$work/window.xwd" 153x65+600+32 red)
    awk -v g="$green" -v r="$red" 'BEGIN { exit !(r > 0.05 && g < r / 2) }'
}
within 30 value_shown || fail "tkcontrol showed no value from tksim"

# The menu entry's command, with a home of its own: it makes the per-user
# folder and starts the program there.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
mkdir "$work/home"
HOME=$work/home "$root$exec_line" 2>"$work/menu.err" &
pids+=($!)
folder=$work/home/TK840-TK960
started_in_folder() {
    [ "$(readlink "/proc/${pids[-1]}/exe")" = "$root/usr/bin/tkcontrol" ] &&
        [ "$(readlink "/proc/${pids[-1]}/cwd")" = "$folder" ]
}
within 10 started_in_folder || fail "the menu entry did not start tkcontrol in $folder"
echo "check-package: $deb passed"
