#!/usr/bin/env bash
# Benchmarks: prints figures and ratios measured in this one run.
#   bench/run.sh            (about 3 minutes)
# 1. frame rate and peak memory: the player against the floor loop, 1920x1080
# 2. capture: the grab against memcpy, 1920x1080 and 3840x2160, with and
#    without MIT-SHM
# 3. start-up at 1920x1080: launch to first frame against the floor loop
#    (bench/startup.sh), then step by step
# 4. the music as a clock over a 60 s track: repeated times, wall - time spread, switch overshoot
# 5. peak memory per step of a long step list
# 6. frame rate of quorvel.exe under Wine against the floor loop built for
#    Windows (scripts/build-windows.sh; the libraries are cached after one build)
# 7. render speed of quorvel-render against real time (bench/render.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
rounds=${QUORVEL_BENCH_ROUNDS:-3}
seconds=${QUORVEL_BENCH_SECONDS:-10}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCH=ON -DQUORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
bench=$build/bench
work=$(mktemp -d)
servers=()
cleanup() {
    for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
export ALSOFT_DRIVERS=null

# start_server WxH [Xvfb options...]: a fresh Xvfb; sets DISPLAY.
start_server() {
    local size=$1
    shift
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 "${size}x24" -noreset -nolisten tcp "$@" >/dev/null 2>&1 &
    servers+=($!)
    read -r -u "$fd" number
    exec {fd}<&-
    export DISPLAY=:$number
}

stop_servers() {
    for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
    servers=()
    sleep 0.5
}

# Frames a second from a swap log, leaving out the first two seconds of warm-up.
fps_of() {
    awk 'NR == 1 { next } !start && $1 >= 2 { t0 = $1; f0 = $2; start = 1; next }
         start { t = $1; f = $2 } END { if (t > t0) printf "%.1f", (f - f0) / (t - t0); else print "nan" }' "$1"
}

peak_kib() { awk '/VmHWM/ { print $2 }' "/proc/$1/status"; }
now_kib() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }

echo "machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "renderer: Mesa llvmpipe on Xvfb (no GPU on this machine)"
echo

sox -q -n -r 44100 -c 2 "$work/music.ogg" synth 70 sine 330 vol 0.3
mkdir -p "$work/show"
cp "$root/bench/passthrough.frag" "$work/music.ogg" "$work/show/"
echo "passthrough.frag 1000" >"$work/show/shader_sequence.txt"

echo "== 1. frame rate and memory, 1920x1080, pass-through shader, $rounds rounds of ${seconds} s each, alternating"
start_server 1920x1080
player_fps=() floor_fps=() player_peak=0 floor_peak=0 player_now=0
for round in $(seq "$rounds"); do
    QUORVEL_SWAP_LOG=$work/floor.log LD_PRELOAD=$bench/libswap_counter.so \
        "$bench/floor_loop" "$work/show/passthrough.frag" "$work/music.ogg" "$seconds" &
    floor=$!
    sleep $((seconds - 1))
    peak=$(peak_kib $floor)
    [ "$peak" -gt "$floor_peak" ] && floor_peak=$peak
    wait $floor
    floor_fps+=("$(fps_of "$work/floor.log")")

    (cd "$work/show" && QUORVEL_SWAP_LOG=$work/player.log LD_PRELOAD=$bench/libswap_counter.so \
        exec "$build/quorvel" >/dev/null 2>&1) &
    player=$!
    sleep "$seconds"
    peak=$(peak_kib $player)
    [ "$peak" -gt "$player_peak" ] && player_peak=$peak
    player_now=$(now_kib $player)
    xdotool key Escape
    wait $player || true
    player_fps+=("$(fps_of "$work/player.log")")
    echo "  round $round: floor ${floor_fps[-1]} fps, player ${player_fps[-1]} fps"
done
stop_servers
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
f=$(median "${floor_fps[@]}")
p=$(median "${player_fps[@]}")
echo "  median: floor $f fps, player $p fps, ratio $(awk -v p="$p" -v f="$f" 'BEGIN { printf "%.3f", p / f }') (target >= 0.98)"
budget=$((1920 * 1080 * 4 * 2 / 1024))
echo "  peak resident memory: floor ${floor_peak} KiB, player ${player_peak} KiB, difference $((player_peak - floor_peak)) KiB" \
     "(target <= 2 x width x height x 4 = ${budget} KiB); player resident while playing ${player_now} KiB"
echo

echo "== 2. capture against memcpy of the same bytes (median of 21)"
for size in 1920x1080 3840x2160; do
    start_server $size
    "$bench/capture_bench" "MIT-SHM"
    stop_servers
    start_server $size -extension MIT-SHM
    "$bench/capture_bench" "XGetImage (no MIT-SHM)"
    stop_servers
done
echo "  (target with MIT-SHM: ratio <= 2)"
echo

echo "== 3. start-up at 1920x1080: against the floor loop, then step by step in the example show"
bash "$root/bench/startup.sh" "$build"
start_server 1920x1080
(cd "$root/examples/show" && "$bench/startup_bench")
stop_servers
echo

echo "== 4. the music as a clock: 60 s track, 2 s steps, position read every frame"
sox -q -n -r 44100 -c 2 "$work/clock.ogg" synth 60 sine 330 vol 0.3
start_server 640x360
"$bench/clock_bench" "$work/clock.ogg" 2
stop_servers
echo

echo "== 5. memory per step: peak resident memory after loading N steps of one small shader"
start_server 1920x1080
printf 'void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }\n' >"$work/show/small.frag"
previous_steps=0 previous_peak=0
for steps in 1 1000 4000; do
    awk -v n="$steps" 'BEGIN { for (i = 0; i < n; ++i) print "small.frag 1000" }' >"$work/show/shader_sequence.txt"
    (cd "$work/show" && exec "$build/quorvel" >"$work/steps.out" 2>/dev/null) &
    player=$!
    until grep -q "Shader caricate" "$work/steps.out" 2>/dev/null; do sleep 0.1; done
    sleep 1
    peak=$(peak_kib $player)
    xdotool key Escape
    wait $player || true
    if [ "$previous_steps" -gt 0 ]; then
        per_step=$(awk -v a="$previous_peak" -v b="$peak" -v n=$((steps - previous_steps)) 'BEGIN { printf "%.1f", (b - a) / n }')
        echo "  $steps steps: peak $peak KiB ($per_step KiB a step from $previous_steps to $steps)"
    else
        echo "  $steps step: peak $peak KiB"
    fi
    previous_steps=$steps previous_peak=$peak
done
stop_servers
echo

echo "== 6. the Windows program under Wine: frame rate against the floor loop for Windows, 1920x1080, $rounds rounds of ${seconds} s"
bash "$root/scripts/build-windows.sh" >"$work/build-windows.log" 2>&1 || { cat "$work/build-windows.log"; exit 1; }
sfml_dir=$(sed -n 's/^SFML_DIR:[A-Z]*=//p' "$root/build-windows/build/CMakeCache.txt")
cmake -S "$root" -B "$build-windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DSFML_DIR="$sfml_dir" -DQUORVEL_BUILD_BENCH=ON >/dev/null
cmake --build "$build-windows" --target floor_loop -j"$(nproc)" >/dev/null
windows=$work/windows
cp -r "$root"/build-windows/quorvel-*-win64 "$windows"
cp "$build-windows/floor_loop.exe" "$windows/"
export WINEPREFIX=$work/wine WINEDLLOVERRIDES=mscoree,mshtml=
start_server 1920x1080
wine cmd /c exit >/dev/null 2>&1 # a new prefix takes a while to set up
# Wine's fps channel reports the frames presented every second; the median after two seconds of warm-up.
wine_fps() { grep -o '@ approx [0-9.]*fps' "$1" | tr -dc '0-9.\n' | awk 'NR > 2' | sort -g |
    awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "nan" }'; }
wfloor=() wplayer=()
for round in $(seq "$rounds"); do
    (cd "$work/show" && WINEDEBUG=+fps wine "$windows/floor_loop.exe" passthrough.frag music.ogg "$seconds" \
        >/dev/null 2>"$work/wfloor.log")
    wfloor+=("$(wine_fps "$work/wfloor.log")")
    (cd "$work/show" && echo "passthrough.frag 1000" >shader_sequence.txt &&
        ALSOFT_DRIVERS=null WINEDEBUG=+fps exec wine "$windows/quorvel.exe" >/dev/null 2>"$work/wplayer.log") &
    player=$!
    sleep "$seconds"
    xdotool key Escape
    wait $player || true
    wplayer+=("$(wine_fps "$work/wplayer.log")")
    echo "  round $round: floor ${wfloor[-1]} fps, player ${wplayer[-1]} fps"
done
wineserver -k 2>/dev/null || true
stop_servers
f=$(median "${wfloor[@]}")
p=$(median "${wplayer[@]}")
echo "  median: floor $f fps, player $p fps, ratio $(awk -v p="$p" -v f="$f" 'BEGIN { printf "%.3f", p / f }') (target >= 0.98)"
echo

echo "== 7. quorvel-render: speed against real time, drawing and encoding"
bash "$root/bench/render.sh" "$build"
