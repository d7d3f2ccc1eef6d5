# Sourced by the benchmark scripts: a temporary folder in $work and a list
# $children of the background processes started there, both cleaned up when
# the script ends, also on Ctrl-C or SIGTERM.
#   bench_workspace NAME
bench_workspace() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    children=()
    trap bench_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

bench_cleanup() {
    local pid
    for pid in "${children[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${children[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
