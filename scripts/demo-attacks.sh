#!/usr/bin/env bash
# Attacks on sealed recordings, each run against the built programs as an
# operator who may write the recording folder would run it: tkrecord records
# tksim with its key in a folder of its own, and tkview --verify (trusting
# that key) or --report judges the folder afterwards. For each attack it
# prints what was done, tkview's verdict lines (the folder's path left out)
# and its exit status; a tampered folder must not exit 0.
#
#   While the recorder runs: a recording deleted, put back to an older copy,
#   cut, grown (and its mode changed, which is no tampering).
#   While it is stopped: the same.
#   A kill -9 told apart from tampering, before and after the next start,
#   with and without the recorder's state (--state).
#   A bus: two controllers' sub-folders swapped.
#   The trail: put back to an older copy, everything wiped and the recorder
#   started again, removed while running, a kept-aside trail deleted.
#   Crafted files: a seal signed by the operator's own key counting 2^58
#   blocks, a fifo in place of a seal, a block list or a trail (tkview and
#   tkrecord must neither crash nor hang).
#   Keys: --key in an existing folder, in a folder others may write, with
#   --no-seal.
#   Words: one block edited in the middle of a long recording, the same with
#   the block list cut, a half line appended.
#   The report of a folder whose trail was edited: its banner, as a PNG.
#
# The long recording of the last part takes BLOCKS blocks of 64 one-second
# records (default 4, some 5 minutes); it runs on a bus of two controllers
# while the other attacks run.
#
#   scripts/demo-attacks.sh [BUILD_DIR [OUT_DIR]]   (default build; the report's
#                                                    PDF and PNG go to OUT_DIR,
#                                                    default /tmp/demo-attacks)
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen

build_dir=${1:-build}
out_dir=${2:-/tmp/demo-attacks}
blocks=${BLOCKS:-4}

# shellcheck source=bench-workspace.sh
source scripts/bench-workspace.sh
need_tools "" /usr/bin/python3 pdftoppm timeout
tksim=$PWD/$build_dir/tools/tksim
tkrecord=$PWD/$build_dir/tkrecord/tkrecord
tkview=$PWD/$build_dir/tkview/tkview
for program in "$tksim" "$tkrecord" "$tkview"; do
    [ -x "$program" ] || { echo "$program is missing: build $build_dir first." >&2; exit 1; }
done
bench_workspace tk-demo-attacks
mkdir -p "$out_dir"

# The recorder's key, in a folder only it may write.
mkdir -m 0700 "$work/keys"
export TKRECORD_KEY=$work/keys/seal.key
"$tkrecord" --key-fingerprint >/dev/null
declare -A sim_pid rec_pid

# folder NAME [ADDRESSES]: a recording folder with its own simulated line,
# one controller (address 9) or a bus named oven1, oven2… on ADDRESSES.
folder() {
    local name=$1 addresses=${2:-9} n=0 address
    mkdir -p "$work/$name"
    "$tksim" --link "$work/$name.port" --address "$addresses" --fixed 2153,2000,45 \
        >"$work/$name.tksim" 2>&1 &
    sim_pid[$name]=$!
    children+=($!)
    wait_for "$work/$name.tksim" "^tksim ready on " "${sim_pid[$name]}"
    printf '[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\ninterv_record=1\n' \
        "$work/$name.port" >"$work/$name/conf.ini"
    if [[ $addresses == *,* ]]; then
        echo "[Controllers]" >>"$work/$name/conf.ini"
        for address in ${addresses//,/ }; do
            n=$((n + 1))
            echo "oven$n=$address" >>"$work/$name/conf.ini"
        done
    fi
}
start() {
    "$tkrecord" --dir "$work/$1" >>"$work/$1.out" 2>&1 &
    rec_pid[$1]=$!
    children+=($!)
}
stop() {
    kill -TERM "${rec_pid[$1]}"
    stop_status=0
    wait "${rec_pid[$1]}" || stop_status=$?
    [ "$stop_status" = 0 ] || echo "   (tkrecord ended with status $stop_status)"
}
crash() {
    kill -KILL "${rec_pid[$1]}"
    wait "${rec_pid[$1]}" 2>/dev/null || true
}
# The newest recording of a folder (or sub-folder), and its record count.
newest() { (cd "$work/$1" && ls REC_*.csv 2>/dev/null | tail -n 1); }
count() {
    local f
    f=$work/$1/$(newest "$1")
    if [ -f "$f" ]; then echo $(($(wc -l <"$f") - 1)); else echo 0; fi
}
# wait_records FOLDER N [SECONDS]: until its newest recording holds N
# records (at most 60 s, or SECONDS).
wait_records() {
    for _ in $(seq $((${3:-60} * 10))); do
        [ -n "$(newest "$1")" ] && [ "$(count "$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    echo "$1 never held $2 records" >&2
    exit 1
}
# wait_new FOLDER NAME N: until a recording other than NAME holds N records.
wait_new() {
    for _ in $(seq 600); do
        [ "$(newest "$1")" != "$2" ] && [ "$(count "$1")" -ge "$3" ] && return 0
        sleep 0.1
    done
    echo "$1 never went on in a new file" >&2
    exit 1
}
# copy FOLDER/FILE TO: the file with its seal and block list, the seal first.
copy() {
    local suffix
    for suffix in .seal .seal.blocks ""; do
        [ -e "$work/$1$suffix" ] && cp "$work/$1$suffix" "$work/$2$suffix"
    done
    return 0
}
# put_back FROM FOLDER/FILE: the copy in the file's place, each in one rename.
put_back() {
    local suffix
    for suffix in "" .seal .seal.blocks; do
        [ -e "$work/$1$suffix" ] && mv "$work/$1$suffix" "$work/$2$suffix"
    done
    return 0
}
# verdict TITLE ARGS...: tkview --verify, trusting the recorder's key.
verdict() {
    local title=$1 status=0
    shift
    echo "== $title"
    timeout 60 "$tkview" --verify --trust "$TKRECORD_KEY" "$@" >"$work/verdict" 2>&1 || status=$?
    sed -e "s|$work/||g" -e 's/^/   /' "$work/verdict"
    echo "   -> exit $status"
}
said() { echo "   tkrecord said: $*"; }
trail_says() { grep -h "$2" "$work/$1/audit.log" | cut -d';' -f6- | sed 's/^/   trail: /'; }

# The long recording on a bus, for the words at the end; the rest meanwhile.
folder bus 9,10
start bus

echo "#### 1. While the recorder runs"
folder running
start running
wait_records running 2
first=$(newest running)
echo "-- mode changed (chmod o-r): no tampering, the recording goes on"
chmod o-r "$work/running/$first"
before=$(count running)
wait_records running $((before + 2))
[ "$(newest running)" = "$first" ] && echo "   still recording in $first"
echo "-- deleted with its seal and block list"
rm "$work/running/$first" "$work/running/$first.seal" "$work/running/$first.seal.blocks"
wait_new running "$first" 2
second=$(newest running)
echo "-- put back to a copy of 2 records earlier"
wait_records running 2
copy "running/$second" "running/copy"
wait_records running 4
put_back "running/copy" "running/$second"
wait_new running "$second" 2
third=$(newest running)
echo "-- cut by 20 bytes"
wait_records running 3
truncate -s -20 "$work/running/$third"
wait_new running "$third" 2
fourth=$(newest running)
echo "-- grown by a line"
echo '"2026-12-11 00:00:00";2153;2000;45;' >>"$work/running/$fourth"
wait_new running "$fourth" 2
stop running
trail_says running "recording changed while running"
verdict "running: deleted, put back, cut, grown" "$work/running"

echo
echo "#### 2. While the recorder is stopped"
folder stopped
start stopped
wait_records stopped 2
sname=$(newest stopped)
copy "stopped/$sname" older
wait_records stopped 5
stop stopped
cp -a "$work/stopped" "$work/report"
for attack in deleted replaced cut grown; do
    cp -a "$work/stopped" "$work/stopped-$attack"
done
rm "$work/stopped-deleted/$sname"*
cp "$work/older" "$work/stopped-replaced/$sname"
cp "$work/older.seal" "$work/stopped-replaced/$sname.seal"
cp "$work/older.seal.blocks" "$work/stopped-replaced/$sname.seal.blocks"
truncate -s -20 "$work/stopped-cut/$sname"
echo '"2026-12-11 00:00:00";2153;2000;45;' >>"$work/stopped-grown/$sname"
verdict "stopped, untouched" "$work/stopped"
for attack in deleted replaced cut grown; do
    verdict "stopped: $attack" "$work/stopped-$attack"
done

echo
echo "#### 3. A kill -9, told apart from tampering"
folder crash
start crash
wait_records crash 3
name=$(newest crash)
crash crash
verdict "killed, as left, before the next start" "$work/crash"
verdict "killed, as left, with the recorder's state" "$work/crash" --state "$work/keys"
start crash
wait_new crash "$name" 1
wait_records crash 2
stop crash
trail_says crash "recording not closed"
verdict "killed, as left, after the next start" "$work/crash"

folder killed
start killed
wait_records killed 2
name=$(newest killed)
copy "killed/$name" "killed/copy"
wait_records killed 5
crash killed
put_back "killed/copy" "killed/$name"
verdict "killed, then put back to a copy of 2 records: without the state" "$work/killed"
verdict "the same, with the recorder's state" "$work/killed" --state "$work/keys"
start killed
wait_new killed "$name" 2
stop killed
trail_says killed "recording found"
verdict "the same, after the next start" "$work/killed"

echo
echo "#### 5. The trail"
folder trail
start trail
wait_records trail 2
name=$(newest trail)
copy trail/audit.log trail-older
stop trail
put_back trail-older trail/audit.log
verdict "trail put back to an older copy, with the state" "$work/trail" --state "$work/keys"
start trail
wait_new trail "$name" 1
stop trail
trail_says trail "audit trail found"
verdict "the same, after the next start" "$work/trail"
cp -a "$work/trail" "$work/trail-kept-deleted"
rm "$work/trail-kept-deleted/audit-1.log"*
verdict "the kept-aside audit-1.log deleted" "$work/trail-kept-deleted"

folder wiped
start wiped
wait_records wiped 2
stop wiped
find "$work/wiped" -mindepth 1 ! -name conf.ini -delete
start wiped
wait_records wiped 2
stop wiped
trail_says wiped "audit trail missing"
verdict "every file wiped and the recorder started again" "$work/wiped"

folder removed
start removed
wait_records removed 2
rm "$work/removed/audit.log"
stop removed
trail_says removed "audit trail removed"
verdict "trail removed while running" "$work/removed"

echo
echo "#### 6. Crafted files: no crash, no hang"
"$tkrecord" --key "$work/operator/seal.key" --key-fingerprint >/dev/null
cat >"$work/resign.py" <<'PY'
# resign.py KEY BLOCKS SEAL...: each seal signed anew by KEY (a seal.key),
# its blocks count set to BLOCKS ("-": kept), as anyone holding a key could:
# the first line and the fields joined with their lengths (32-bit
# little-endian), as the seal's signature covers them.
import struct, sys
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
secret = open(sys.argv[1], "rb").read()
key = Ed25519PrivateKey.from_private_bytes(secret[:32])
for path in sys.argv[3:]:
    lines = open(path, "rb").read().decode().split("\n")
    fields = [line.split(" ", 1) for line in lines[1:11]]
    for field in fields:
        if field[0] == "blocks" and sys.argv[2] != "-":
            field[1] = sys.argv[2] + " " + field[1].split(" ")[1]
        if field[0] == "key":
            field[1] = secret[32:].hex()
    joined = b""
    for part in [lines[0]] + [p for f in fields for p in f]:
        joined += struct.pack("<I", len(part.encode())) + part.encode()
    text = lines[0] + "\n" + "".join(f"{n} {v}\n" for n, v in fields)
    open(path, "w").write(text + f"signature {key.sign(joined).hex()}\n")
PY
cp -a "$work/stopped" "$work/resigned"
/usr/bin/python3 "$work/resign.py" "$work/operator/seal.key" - "$work/resigned/$sname.seal"
verdict "control: the seal signed anew by the operator's key, its counts kept" \
    "$work/resigned/$sname"
cp -a "$work/stopped" "$work/crafted"
/usr/bin/python3 "$work/resign.py" "$work/operator/seal.key" 288230376151711744 \
    "$work/crafted/$sname.seal" "$work/crafted/audit.log.seal"
grep -h '^blocks' "$work/crafted/$sname.seal" | sed 's/^/   crafted seal: /'
verdict "a seal counting 2^58 blocks, signed by the operator's key" "$work/crafted/$sname"
cp -a "$work/crafted" "$work/fifos"
for suffix in .seal .seal.blocks; do
    rm "$work/fifos/$sname$suffix"
    mkfifo "$work/fifos/$sname$suffix"
done
rm "$work/fifos/audit.log"
mkfifo "$work/fifos/audit.log"
verdict "fifos in place of the seal, the block list and audit.log" "$work/fifos"
echo "-- tkrecord starting on the crafted trail seal, then on the fifo trail"
for case in crafted fifos; do
    sed -i "s|^1=.*|1=$work/$case.port|" "$work/$case/conf.ini"
    "$tksim" --link "$work/$case.port" --fixed 2153,2000,45 >"$work/$case.tksim" 2>&1 &
    children+=($!)
    wait_for "$work/$case.tksim" "^tksim ready on " $!
    start "$case"
    wait_new "$case" "$sname" 1
    stop "$case"
    echo "   $case: tkrecord recorded, and ended on SIGTERM with status $stop_status; its trail begins:"
    head -n 1 "$work/$case/audit.log" | cut -d';' -f6- | sed 's/^/     /'
done
echo "-- SIGTERM while tkrecord starts, on a fifo in place of the trail"
mkdir "$work/fifo-start"
cp "$work/crafted/conf.ini" "$work/fifo-start/"
mkfifo "$work/fifo-start/audit.log"
start fifo-start
# While it reads its key, the trail and the port.
sleep 0.2
kill -TERM "${rec_pid[fifo-start]}"
for _ in $(seq 200); do
    kill -0 "${rec_pid[fifo-start]}" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "${rec_pid[fifo-start]}" 2>/dev/null; then
    echo "   still running 20 s after SIGTERM: hung"
else
    stop_status=0
    wait "${rec_pid[fifo-start]}" || stop_status=$?
    echo "   ended, status $stop_status"
fi

echo
echo "#### 7. Keys"
mkdir -m 0755 "$work/shared"
"$tkrecord" --key "$work/shared/seal.key" --key-fingerprint >/dev/null
echo "-- --key in an existing folder: its mode after the key was made: $(stat -c %a "$work/shared")"
mkdir -m 0777 "$work/open"
status=0
timeout 20 "$tkrecord" --key "$work/open/seal.key" --dir "$work/stopped" >"$work/open.out" 2>&1 ||
    status=$?
echo "-- --key in a folder others may write: exit $status"
sed 's/^/   /' "$work/open.out" | sed "s|$work/||g" | head -n 3
status=0
timeout 20 "$tkrecord" --key "$work/shared/seal.key" --no-seal >"$work/both.out" 2>&1 || status=$?
echo "-- --key with --no-seal: exit $status"
sed 's/^/   /' "$work/both.out" | head -n 2

echo
echo "#### 4 and 8. A bus, and the words of a long recording"
wait_records bus/oven1 $((blocks * 64 + 8)) $((blocks * 64 + 120))
stop bus
long=$(newest bus/oven1)
verdict "bus, untouched" "$work/bus"
cp -a "$work/bus" "$work/bus-swapped"
mv "$work/bus-swapped/oven1" "$work/bus-swapped/swap"
mv "$work/bus-swapped/oven2" "$work/bus-swapped/oven1"
mv "$work/bus-swapped/swap" "$work/bus-swapped/oven2"
verdict "bus: oven1's and oven2's sub-folders swapped" "$work/bus-swapped"
for edit in edited blocks-cut half-line; do
    cp -a "$work/bus" "$work/bus-$edit"
done
# Line 150: the file's header is line 1.
sed -i '150s/;2153;/;2154;/' "$work/bus-edited/oven1/$long"
sed -i '150s/;2153;/;2154;/' "$work/bus-blocks-cut/oven1/$long"
: >"$work/bus-blocks-cut/oven1/$long.seal.blocks"
printf '"2026-12-11 00:00:00";21' >>"$work/bus-half-line/oven1/$long"
verdict "line 150 edited" "$work/bus-edited/oven1/$long"
verdict "line 150 edited, the block list emptied" "$work/bus-blocks-cut/oven1/$long"
verdict "half a line appended" "$work/bus-half-line/oven1/$long"

echo
echo "#### The report of a folder whose trail was edited"
line=$(tail -n 1 "$work/report/audit.log" | cut -d';' -f2-5)
entry=$(($(tail -n 1 "$work/report/audit.log" | cut -d';' -f1) + 1))
printf '%s;%s;event: Inspection passed\r\n' "$entry" "$line" >>"$work/report/audit.log"
# The recorder's key trusted as an administrator would: only the trail fails.
/usr/bin/python3 -c 'import sys; print(open(sys.argv[1], "rb").read()[32:].hex(), "demo recorder")' \
    "$TKRECORD_KEY" >"$work/trusted-keys"
status=0
TKCONTROL_TRUSTED_KEYS=$work/trusted-keys "$tkview" --report "$out_dir/edited-trail.pdf" \
    "$work/report" >"$work/report.out" 2>&1 || status=$?
echo "== tkview --report of a folder with \"event: Inspection passed\" added to audit.log: exit $status"
grep -v XDG_RUNTIME_DIR "$work/report.out" | sed -e "s|$work/||g" -e 's/^/   /' || true
pdftoppm -png -r 80 -f 1 -l 1 "$out_dir/edited-trail.pdf" "$out_dir/edited-trail"
echo "   PDF: $out_dir/edited-trail.pdf, first page: $(ls "$out_dir"/edited-trail*.png)"
