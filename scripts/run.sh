#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the program in
# demo/ (its settings and recording files go there).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found (DISPLAY is not set). Run this from a desktop session," >&2
    echo "or under a virtual one: xvfb-run -a scripts/run.sh" >&2
    exit 1
fi
mkdir -p demo
cd demo
exec ../build/app/tkcontrol
