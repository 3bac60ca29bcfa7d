#!/usr/bin/env bash
# Render speed of quorvel-render as a ratio to real time, and the shares of
# drawing (and reading back) against encoding, for the example show over a
# picture desktop: 1280x720 and 1920x1080, 30 and 60 fps, MKV and MP4.
#   bench/render.sh [BUILD]     (BUILD: a build folder with quorvel-render; default build-bench)
# Prints only; part of bench/run.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" 2>/dev/null && pwd || echo "$root/build-bench")
seconds=${QUORVEL_BENCH_RENDER_SECONDS:-6}
if [ ! -x "$build/quorvel-render" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" --target quorvel-render -j"$(nproc)" >/dev/null
fi
work=$(mktemp -d)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

. "$root/scripts/lib.sh"
start_xvfb 320x200
xvfb=$XVFB_PID
export WAYLAND_DISPLAY= XDG_SESSION_TYPE=x11

convert -size 1920x1080 gradient:'#336699'-'#cc8844' "$work/desktop.png"
echo "  ${seconds} s of the example show from 8 s on (melt, kaleidoscope, crt); one run each"
printf '  %-10s %4s %4s  %9s  %8s  %8s\n' size fps kind 'x real' drawing encoding
for size in 1280x720 1920x1080; do
    for fps in 30 60; do
        for kind in mkv mp4; do
            line=$("$build/quorvel-render" --desktop "$work/desktop.png" --size "$size" --fps "$fps" \
                --from 8 --seconds "$seconds" "$root/examples/show" "$work/out.$kind")
            rm -f "$work/out.$kind"
            ratio=$(sed -n 's/.*: \([0-9.]*\)x real time.*/\1/p' <<<"$line")
            drawing=$(sed -n 's/.*(drawing \([0-9]*\) %.*/\1/p' <<<"$line")
            encoding=$(sed -n 's/.*encoding \([0-9]*\) %).*/\1/p' <<<"$line")
            printf '  %-10s %4s %4s  %8sx  %7s%%  %7s%%\n' "$size" "$fps" "$kind" "$ratio" "$drawing" "$encoding"
        done
    done
done
