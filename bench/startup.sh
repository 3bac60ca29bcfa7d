#!/usr/bin/env bash
# Start-up against the floor: launch -> first presented frame of the player,
# divided by the same for the floor loop (the same window, a screen-sized
# upload, one shader, the music opened and started), in alternating runs at
# 1920x1080 on a fresh Xvfb. Frames are seen by the swap_counter shim, so
# neither program carries measuring code. Prints only; part of bench/run.sh.
#   bench/startup.sh [BUILD [ROUNDS]]     (BUILD: default build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" 2>/dev/null && pwd || echo "$root/build-bench")
rounds=${2:-7}
bench=$build/bench
if [ ! -x "$build/quorvel" ] || [ ! -e "$bench/libswap_counter.so" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" -j"$(nproc)" >/dev/null
fi
work=$(mktemp -d)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export ALSOFT_DRIVERS=null WAYLAND_DISPLAY= XDG_SESSION_TYPE=x11

. "$root/scripts/lib.sh"
start_xvfb 1920x1080
xvfb=$XVFB_PID

mkdir -p "$work/show"
sox -q -n -r 44100 -c 2 "$work/show/music.ogg" synth 30 sine 330 vol 0.3
cp "$root/bench/passthrough.frag" "$work/show/"
echo "passthrough.frag 1000" >"$work/show/shader_sequence.txt"

# Milliseconds from launch to the first presented frame of the command run in the show folder.
first_frame_ms() {
    local log=$work/first.txt t0 pid
    rm -f "$log"
    t0=$(date +%s.%N)
    (cd "$work/show" && QUORVEL_FIRST_FRAME_LOG=$log LD_PRELOAD=$bench/libswap_counter.so exec "$@" >/dev/null 2>&1) &
    pid=$!
    for _ in $(seq 400); do [ -s "$log" ] && break; sleep 0.025; done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -s "$log" ] || { echo nan; return; }
    awk -v a="$t0" '{ printf "%.1f", ($1 - a) * 1000 }' "$log"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
floor=() player=()
first_frame_ms "$bench/floor_loop" passthrough.frag music.ogg 60 >/dev/null # warm the caches
for round in $(seq "$rounds"); do
    floor+=("$(first_frame_ms "$bench/floor_loop" passthrough.frag music.ogg 60)")
    player+=("$(first_frame_ms "$build/quorvel")")
    echo "  round $round: floor ${floor[-1]} ms, player ${player[-1]} ms"
done
f=$(median "${floor[@]}")
p=$(median "${player[@]}")
echo "  median: floor $f ms, player $p ms, ratio $(awk -v p="$p" -v f="$f" 'BEGIN { printf "%.3f", p / f }') (target <= 1.05)"
