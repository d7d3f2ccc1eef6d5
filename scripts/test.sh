#!/usr/bin/env bash
# The test command: installs what is missing, builds from scratch in a fresh
# folder and runs every test, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, a bounded run of every fuzz target, the static
# checks, and the Debian package built and checked. Any failure stops it with
# a non-zero status.
#
#   scripts/test.sh            everything (what CI runs)
#   scripts/test.sh --quick    the build and the test suite only
#
# The product is compiled twice: build-test/ with the Debian package's flags
# and prefix, which the suite runs in, the package is made from and the
# static checks read the compile commands of; and build-asan/ with clang and
# the sanitizers, which also builds the fuzz targets. Every compile goes
# through ccache. The static checks, which only need the processors, run
# beside the suite, which mostly waits on its simulated lines and servers.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
[ "${1:-}" = "--quick" ] && quick=true

# The compiler, fuzzer and sanitizer runtimes, the checkers, Prometheus (server,
# promtool and Alertmanager, with python3 for the webhook) and systemd-analyze
# for tkrecord's tests, and what checks the Debian package, pdftotext for
# tkview's report, and the session bus, notification server, sound server and
# sound meter of the alarm's desktop check; chromium with its driver and
# selenium for the recorder's shop-floor page.
scripts/setup.sh clang clang-14 libclang-rt-14-dev clang-tidy clang-tidy-14 clang-format \
    clang-format-14 cppcheck prometheus prometheus-alertmanager python3 systemd dpkg-dev file \
    desktop-file-utils appstream lintian imagemagick x11-apps poppler-utils dbus dunst \
    pulseaudio pulseaudio-utils sox xdotool x11-utils ccache \
    chromium chromium-driver python3-selenium ser2net
# The broker, subscriber, password tool and certificates of tkrecord's sharing
# tests, and another Modbus master for its share.
scripts/setup.sh mosquitto mosquitto-clients mbpoll openssl
source scripts/ccache-env.sh

# Each step's name and start, and at the end how long each took.
steps=()
step() {
    steps+=("$SECONDS $1")
    printf '\n==== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"
}
times() {
    local i start name next
    for ((i = 0; i < ${#steps[@]}; i++)); do
        read -r start name <<<"${steps[i]}"
        next=$SECONDS
        [ $((i + 1)) -lt ${#steps[@]} ] && next=${steps[i + 1]%% *}
        printf '%5d s  %s\n' $((next - start)) "$name"
    done
    printf '%5d s  in all\n' "$SECONDS"
}
lint_pid=
lint_log=$(mktemp)
trap '[ -z "$lint_pid" ] || kill "$lint_pid" 2>/dev/null || true; rm -f "$lint_log"' EXIT

step "build"
rm -rf build-test
# In a subshell: the sanitizer build must not inherit the package's flags.
(
    source scripts/package-flags.sh
    cmake -S . -B build-test "${package_cmake_args[@]}" -DTK_BENCHMARKS=OFF >/dev/null
)
cmake --build build-test -j "$(nproc)"
if ! $quick; then
    step "static checks, beside the test suite"
    scripts/lint.sh build-test >"$lint_log" 2>&1 &
    lint_pid=$!
fi
step "test suite"
# Twice as many tests as processors: most of them wait on simulated lines and
# real periods, and every one passes on a loaded machine (ctest -j4 on two
# busy cores).
(cd build-test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$((2 * $(nproc)))" -LE soak)
step "alarm on the desktop: notification and tone (some 20 s)"
scripts/check-alarm-desktop.sh build-test
if $quick; then
    times
    exit 0
fi

step "Debian package, from the test build"
scripts/check-package.sh "$(scripts/package.sh build-test)"
step "static checks: their findings"
lint_status=0
wait "$lint_pid" || lint_status=$?
lint_pid=
cat "$lint_log"
[ "$lint_status" -eq 0 ]
step "test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/sanitize.sh
step "bounded fuzzing"
scripts/fuzz.sh "${TK_FUZZ_SECONDS:-30}"
step "all passed"
times
