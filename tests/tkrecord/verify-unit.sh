#!/usr/bin/env bash
# verify-unit.sh UNIT BINARY: systemd-analyze verify on an instance of the
# template unit, with its ExecStart pointed at the binary just built (verify
# insists that the program exists). Any remark fails: verify itself exits 0
# on unknown keys and bad values.
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|/usr/bin/tkrecord|$2|" "$1" >"$dir/tkrecord@.service"
out=$(systemd-analyze verify --man=no "$dir/tkrecord@check.service" 2>&1) || { echo "$out"; exit 1; }
if [ -n "$out" ]; then
    echo "$out"
    exit 1
fi
grep -q "^ExecStart=$2 " "$dir/tkrecord@.service"
