#!/usr/bin/env bash
# Static checks of every C++ source of the program, its tools and its tests:
# clang-tidy (checks in .clang-tidy), cppcheck and clang-format. Any finding
# fails the script. clang-tidy reads the compile commands of the build
# folder given, which must have been built (scripts/test.sh gives its test
# build); without one, of build-lint/, which is configured here and only gets
# its moc files generated, not built.
#   scripts/lint.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=build-lint
built_dir=${1:-}
jobs=$(nproc)
failed=()

# name command...: runs the command, tells its time and outcome. The checks
# run inside an "if", where set -e does not act: they return their status.
timed() {
    local name=$1 start=$SECONDS
    shift
    if "$@"; then
        echo "lint: $name clean ($((SECONDS - start))s)"
    else
        echo "lint: $name FAILED ($((SECONDS - start))s)"
        failed+=("$name")
    fi
}

mapfile -t sources < <(git ls-files -- '*.cpp' '*.h')
mapfile -t cpp_files < <(git ls-files -- '*.cpp')

# clang-format first: it needs no build and is the quickest to fix.
format_check() {
    clang-format-14 --dry-run --Werror "${sources[@]}"
}

# The moc output the sources include ("tst_x.moc") must exist; the autogen
# targets alone are built, without the libraries behind them. CMake sets
# CMAKE_AUTOGEN_ORIGIN_DEPENDS to ON itself in project(), over a value given
# on the command line (which then built some 110 objects for nothing, five
# minutes), so it is set in a file read right after project(). The one
# "autogen" target runs all the mocs in parallel.
configure_for_tidy() {
    mkdir -p "$build_dir"
    printf '%s\n' 'set(CMAKE_AUTOGEN_ORIGIN_DEPENDS OFF)' 'set(CMAKE_GLOBAL_AUTOGEN_TARGET ON)' \
        >"$build_dir/autogen-only.cmake"
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_PROJECT_INCLUDE="$root/$build_dir/autogen-only.cmake" >/dev/null || return 1
    cmake --build "$build_dir" -j"$jobs" --target autogen >/dev/null
}

clang_tidy_check() {
    local build_dir=$build_dir
    if [ -n "$built_dir" ]; then
        build_dir=$built_dir
    else
        configure_for_tidy || return 1
    fi
    # Every tracked source that the build compiles; the build's own moc files
    # are generated code and stay out.
    local tracked=()
    for f in "${cpp_files[@]}"; do
        tracked+=("$root/$f")
    done
    local listed
    mapfile -t listed < <(python3 - "$build_dir/compile_commands.json" "${tracked[@]}" <<'PY'
import json, os, sys
db = {os.path.realpath(e["file"]) for e in json.load(open(sys.argv[1]))}
for f in sys.argv[2:]:
    if os.path.realpath(f) in db:
        print(f)
PY
    )
    [ "${#listed[@]}" -gt 0 ] || { echo "lint: no sources in the compile database" >&2; return 1; }
    # run-clang-tidy takes regular expressions: each file is anchored whole.
    local patterns=()
    for f in "${listed[@]}"; do
        patterns+=("^$(printf '%s' "$f" | sed 's/[][\.*^$+?(){}|]/\\&/g')\$")
    done
    local log
    log=$(mktemp)
    local status=0
    run-clang-tidy-14 -j"$jobs" -quiet -p "$build_dir" "${patterns[@]}" >"$log" 2>&1 || status=$?
    # The tool reports errors among the counts of Qt's suppressed warnings;
    # only the findings are shown.
    grep -E -A3 '(warning|error):' "$log" | sed 's/\x1b\[[0-9;]*m//g' || true
    if grep -qE '(warning|error):' "$log"; then
        status=1
    fi
    rm -f "$log"
    echo "lint: clang-tidy looked at ${#listed[@]} files"
    return "$status"
}

cppcheck_check() {
    # Our headers by folder; Qt comes from cppcheck's own qt library file
    # rather than its headers, which cppcheck would take minutes over. The
    # moc files that tests include are then not found, which is fine.
    local includes=()
    local dir
    while read -r dir; do
        includes+=("-I$dir")
    done < <(git ls-files -- '*.h' | xargs -n1 dirname | sort -u)
    # Why each check below is off:
    # unusedStructMember: members read through structured bindings and
    #   aggregate initialisation (ImageSurface's clip edges, Profile's Entry)
    #   are reported as never used.
    # useStlAlgorithm: a plain loop with an early return is the house style
    #   (same reasoning as readability-use-anyofallof in .clang-tidy).
    # shadowFunction: a local named like a member's getter (fd, terminal,
    #   start) is harmless; the getters are named after the thing they give.
    local cache="$build_dir/cppcheck"
    mkdir -p "$cache"
    cppcheck --std=c++20 --language=c++ --library=qt \
        --enable=warning,performance,portability,style \
        --suppress=unusedStructMember --suppress=useStlAlgorithm --suppress=shadowFunction \
        -DQTEST_SET_MAIN_SOURCE_PATH= -DQTEST_DISABLE_KEYPAD_NAVIGATION= \
        --inline-suppr --error-exitcode=1 --quiet -j"$jobs" --cppcheck-build-dir="$cache" \
        --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
        "${includes[@]}" "${cpp_files[@]}"
}

total=$SECONDS
timed clang-format format_check
timed cppcheck cppcheck_check
timed clang-tidy clang_tidy_check

if [ "${#failed[@]}" -eq 0 ]; then
    echo "lint: clean: clang-format, cppcheck and clang-tidy found nothing in ${#sources[@]} files ($((SECONDS - total))s)"
else
    echo "lint: FAILED: ${failed[*]} ($((SECONDS - total))s)"
    exit 1
fi
