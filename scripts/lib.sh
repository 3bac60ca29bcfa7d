# Shared by the scripts and script tests: sourced, defines functions only.

# start_xvfb WxH [Xvfb options...]: a private Xvfb at 24 bits on a free
# display number, reset-proof; sets DISPLAY and XVFB_PID. Waits at most 20 s
# and fails with Xvfb's own words when it does not start.
start_xvfb() {
    local size=$1 fd number log
    shift
    log=$(mktemp)
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 "${size}x24" -noreset -nolisten tcp "$@" >"$log" 2>&1 &
    XVFB_PID=$!
    if ! read -r -t 20 -u "$fd" number; then
        exec {fd}<&-
        echo "The virtual X server (Xvfb) did not start; its log:" >&2
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    exec {fd}<&-
    rm -f "$log"
    export DISPLAY=:$number
}
