#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as first argument):
# everything, or only the targets named after the folder.
#   scripts/build.sh [FOLDER [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ccache-env.sh
build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j "$(nproc)" ${1:+--target "$@"}
