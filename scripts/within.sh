# Sourced by the check scripts.
#   within SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds;
#   fails once SECONDS have passed.
within() {
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $until ] || return 1
        sleep 0.2
    done
}
