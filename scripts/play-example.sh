#!/usr/bin/env bash
# Builds the player when needed and plays the example show (examples/show).
#
# With a display, it plays over your desktop: press Escape to end it.
# Without one (a server, CI), it starts a virtual X server whose desktop shows
# a picture, plays the show there without sound, saves a few screenshots to
# build/example-shots/ and ends the player with Escape.
#
# One run at a time per checkout: a second one says so and ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$root/build}
. "$root/scripts/packages.sh"

mkdir -p "$build"
exec {lock}>"$build/.play-example.lock"
if ! flock -n "$lock"; then
    echo "scripts/play-example.sh is already running from this checkout: one show at a time; end the other first." >&2
    exit 1
fi

headless=yes
if [ -n "${DISPLAY:-}" ] && [ -z "${QUORVEL_HEADLESS:-}" ] && command -v xdpyinfo >/dev/null 2>&1 &&
    xdpyinfo >/dev/null 2>&1; then
    headless=
fi
if [ -n "$headless" ]; then
    ensure_packages build headless
else
    ensure_packages build
fi

echo "== building the player in $build"
# A build folder that exists keeps its own settings.
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target quorvel quorvel-check -j"$(nproc)"
cd "$root/examples/show"

if [ -z "$headless" ]; then
    # Without a sound device the music, which is the clock, cannot play and
    # the show would hold its first step: play it silently instead.
    if ! "$build/quorvel-check" --json . 2>/dev/null | grep -q '"sound_device": true'; then
        echo "no sound device: the show plays silently"
        export ALSOFT_DRIVERS=null
    fi
    exec "$build/quorvel"
fi

shots=$build/example-shots
rm -rf "$shots"
mkdir -p "$shots"
width=1280 height=720

# A private X server: the display number comes back on a pipe.
player= xvfb=
cleanup() {
    [ -n "$player" ] && kill "$player" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 ${width}x${height}x24 -noreset -nolisten tcp >"$shots/xvfb.log" 2>&1 &
xvfb=$!
if ! read -r -t 20 -u "$fd" number; then
    echo "The virtual X server (Xvfb) did not start; its log:" >&2
    cat "$shots/xvfb.log" >&2
    exit 1
fi
export DISPLAY=:$number

# A desktop to play over: a wallpaper with a few windows on it.
convert -size ${width}x${height} gradient:'#1d3557-#457b9d' \
    -fill '#f1faee' -draw 'roundrectangle 90,80 620,430 12,12' \
    -fill '#e63946' -draw 'rectangle 90,80 620,112' \
    -fill '#a8dadc' -draw 'roundrectangle 700,160 1190,620 12,12' \
    -fill '#1d3557' -draw 'rectangle 700,160 1190,192' \
    -fill '#457b9d' -draw 'circle 945,400 945,300' \
    -fill '#e63946' -draw 'rectangle 130,150 580,190' -fill '#a8dadc' -draw 'rectangle 130,220 480,250' \
    -fill '#457b9d' -draw 'rectangle 130,280 540,310' -fill '#1d3557' -draw 'rectangle 130,340 400,370' \
    -fill '#0b1320' -draw 'rectangle 0,680 1280,720' \
    "$shots/desktop.png"
# display returns 1 here even when it has set the background.
display -window root "$shots/desktop.png" || true

echo "Playing the example show on the virtual display $DISPLAY (no sound card: OpenAL's null backend)"
ALSOFT_DRIVERS=null "$build/quorvel" >"$shots/console.txt" 2>"$shots/errors.txt" &
player=$!

# One screenshot in the middle of each of the first steps; the music starts
# once the shaders are compiled and "Shader caricate" is printed.
for _ in $(seq 600); do
    grep -q "Shader caricate" "$shots/console.txt" && break
    if ! kill -0 "$player" 2>/dev/null; then
        wait "$player" && status=0 || status=$?
        player=
        echo "The player ended at start-up with status $status:" >&2
        cat "$shots/console.txt" "$shots/errors.txt" >&2
        exit 1
    fi
    sleep 0.05
done
if ! grep -q "Shader caricate" "$shots/console.txt"; then
    echo "The player did not start the show within 30 s:" >&2
    cat "$shots/console.txt" "$shots/errors.txt" >&2
    exit 1
fi
started=$(date +%s.%N)
for second in 1 3 5 7 10 13; do
    sleep "$(awk -v s="$started" -v t="$second" -v n="$(date +%s.%N)" 'BEGIN { d = s + t - n; print (d > 0 ? d : 0) }')"
    import -window root "$shots/step-at-${second}s.png"
done

xdotool key Escape
wait "$player" && status=0 || status=$?
player=
cat "$shots/console.txt"
echo "Player ended with status $status. Screenshots:"
ls "$shots"/step-*.png
exit "$status"
