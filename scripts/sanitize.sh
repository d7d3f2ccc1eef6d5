#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ (with clang: scripts/sanitize-tree.sh, which the fuzz targets
# share) and runs the whole test suite there (all but the soak tests).
# Any finding stops the process that made it, so the test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitize-tree.sh
build_dir=$sanitizer_dir

start=$SECONDS
configure_sanitizer_tree
cmake --build "$build_dir" -j"$(nproc)"
build_time=$((SECONDS - start))

# Tests start tksim as a child process: it inherits these and is checked too.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Leaks inside libraries that are not ours, each with its reason in the file.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"

start=$SECONDS
status=0
(cd "$build_dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -LE soak -j"$(nproc)") ||
    status=$?
test_time=$((SECONDS - start))

if [ "$status" -eq 0 ]; then
    echo "sanitize: all tests clean under ASan+UBSan+LSan (build ${build_time}s, tests ${test_time}s)"
else
    echo "sanitize: FAILED, see the findings above (build ${build_time}s, tests ${test_time}s)"
fi
exit "$status"
