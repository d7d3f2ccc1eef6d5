#!/usr/bin/env bash
# The test command: installs what is missing, builds from scratch in a fresh
# folder and runs every test, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, a bounded run of every fuzz target, the static
# checks, and the Debian package built and checked. Any failure stops it with
# a non-zero status.
#
#   scripts/test.sh            everything (what CI runs)
#   scripts/test.sh --quick    the build and the test suite only
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
[ "${1:-}" = "--quick" ] && quick=true

# The compiler, fuzzer and sanitizer runtimes, the checkers, Prometheus (server,
# promtool and Alertmanager, with python3 for the webhook) and systemd-analyze
# for tkrecord's tests, and what checks the Debian package, pdftotext for
# tkview's report, and the session bus, notification server, sound server and
# sound meter of the alarm's desktop check.
scripts/setup.sh clang clang-14 libclang-rt-14-dev clang-tidy clang-tidy-14 clang-format \
    clang-format-14 cppcheck prometheus prometheus-alertmanager python3 systemd dpkg-dev file \
    desktop-file-utils appstream lintian imagemagick x11-apps poppler-utils dbus dunst \
    pulseaudio pulseaudio-utils sox xdotool x11-utils ser2net

step() { printf '\n==== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

step "build and test suite"
rm -rf build-test
scripts/build.sh build-test
(cd build-test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" -LE soak)
step "alarm on the desktop: notification and tone (some 20 s)"
scripts/check-alarm-desktop.sh build-test
$quick && exit 0

step "Debian package"
scripts/check-package.sh
step "static checks"
scripts/lint.sh
step "test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/sanitize.sh
step "bounded fuzzing"
scripts/fuzz.sh "${TK_FUZZ_SECONDS:-30}"
step "all passed"
