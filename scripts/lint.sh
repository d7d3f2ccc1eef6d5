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
    # A file found clean before, with the same compile command, the same
    # content in it and in every header it includes (the build's dependency
    # files list them), the same checks and the same clang-tidy, is clean
    # again: only the others are looked at.
    local keys
    keys=$(mktemp)
    local looked=()
    local chosen
    chosen=$(mktemp)
    if tidy_uncached "$build_dir" "$keys" "${listed[@]}" >"$chosen"; then
        mapfile -t looked <"$chosen"
    else
        echo "lint: the clang-tidy cache could not be read; every file is looked at" >&2
        looked=("${listed[@]}")
        : >"$keys"
    fi
    rm -f "$chosen"
    local status=0
    if [ "${#looked[@]}" -gt 0 ]; then
        # run-clang-tidy takes regular expressions: each file is anchored whole.
        local patterns=()
        for f in "${looked[@]}"; do
            patterns+=("^$(printf '%s' "$f" | sed 's/[][\.*^$+?(){}|]/\\&/g')\$")
        done
        local log
        log=$(mktemp)
        run-clang-tidy-14 -j"$jobs" -quiet -p "$build_dir" "${patterns[@]}" >"$log" 2>&1 || status=$?
        # The tool reports errors among the counts of Qt's suppressed warnings;
        # only the findings are shown.
        grep -E -A3 '(warning|error):' "$log" | sed 's/\x1b\[[0-9;]*m//g' || true
        if grep -qE '(warning|error):' "$log"; then
            status=1
        fi
        rm -f "$log"
    fi
    # Only a run without findings is remembered: a finding in a header
    # cannot be told apart by the file that included it.
    if [ "$status" -eq 0 ]; then
        mkdir -p "$tidy_cache"
        while read -r key; do
            : >"$tidy_cache/$key"
        done <"$keys"
    fi
    rm -f "$keys"
    echo "lint: clang-tidy looked at ${#looked[@]} files, ${#listed[@]} in all (the others" \
        "unchanged since found clean)"
    return "$status"
}

# The files of those given that clang-tidy must look at, one a line; the
# cache keys of those it looks at go into the file KEYS. Without the build's
# dependency files (a folder configured only for clang-tidy) every file is
# looked at. Paths under the checkout are hashed relative to it, so that a
# clone in another folder finds what an earlier one found clean.
tidy_cache=${XDG_CACHE_HOME:-$HOME/.cache}/tkcontrol-clang-tidy
tidy_uncached() {
    local build_dir=$1 keys=$2
    shift 2
    python3 - "$root" "$build_dir/compile_commands.json" "$tidy_cache" "$keys" "$@" <<'PY'
import glob, hashlib, json, os, shlex, subprocess, sys
root, database, cache, keys_file, files = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
root = os.path.realpath(root)
def relative(text):
    return text.replace(root, "@ROOT@")
common = hashlib.sha256()
common.update(subprocess.run(["clang-tidy-14", "--version"], capture_output=True).stdout)
for config in sorted(subprocess.run(["git", "ls-files", "*.clang-tidy", ".clang-tidy"],
                                    capture_output=True, text=True, cwd=root).stdout.split()):
    common.update(config.encode() + open(os.path.join(root, config), "rb").read())
hashes = {}
def content(path):
    if path not in hashes:
        try:
            hashes[path] = hashlib.sha256(open(path, "rb").read()).hexdigest()
        except OSError:
            hashes[path] = "missing"
    return hashes[path]
entries = {os.path.realpath(e["file"]): e for e in json.load(open(database))}
with open(keys_file, "w") as keys:
    for f in files:
        entry = entries.get(os.path.realpath(f))
        if entry is None:
            print(f)
            continue
        words = shlex.split(entry["command"]) if "command" in entry else entry["arguments"]
        key = None
        if "-o" in words:
            depfile = os.path.join(entry["directory"], words[words.index("-o") + 1] + ".d")
            if os.path.exists(depfile):
                deps = open(depfile).read().replace("\\\n", " ").split(":", 1)[-1].split()
                h = common.copy()
                h.update(relative(entry["command"] if "command" in entry else " ".join(words)).encode())
                for dep in sorted(set(os.path.realpath(os.path.join(entry["directory"], d))
                                      for d in deps)):
                    h.update((relative(dep) + " " + content(dep) + "\n").encode())
                key = h.hexdigest()
        if key and os.path.exists(os.path.join(cache, key)):
            continue
        print(f)
        if key:
            keys.write(key + "\n")
PY
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
