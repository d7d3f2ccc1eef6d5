#!/usr/bin/env bash
# The test command: installs what is missing, builds from scratch in a fresh
# folder and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
rm -rf build-test
scripts/build.sh build-test
cd build-test
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
