#!/usr/bin/env bash
# Soak run: the player on a virtual X server with a show whose every step
# lasts 0 s, so it switches (and prints a line) on every frame, for a long
# time. Samples the player's resident memory and prints the first and last
# samples and the peak. Not part of the tests.
#   scripts/soak.sh [seconds]      (default 600)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" --target quorvel -j"$(nproc)" >/dev/null

work=$(mktemp -d)
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 1280x720x24 -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
player=
trap '[ -n "$player" ] && kill $player 2>/dev/null; kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
read -r -u "$fd" number
export DISPLAY=:$number

cp "$root"/examples/show/*.frag "$work/"
for f in "$work"/*.frag; do echo "$(basename "$f") 0"; done >"$work/shader_sequence.txt"
# A track longer than the run, so the music clock keeps moving throughout.
sox -q -n -r 22050 -c 1 "$work/music.ogg" synth "$((seconds + 30))" sine 220 vol 0.3

cd "$work"
ALSOFT_DRIVERS=null "$root/build/quorvel" >"$work/console.txt" 2>"$work/errors.txt" &
player=$!
echo "second rss_kib switches"
peak=0
for ((t = 0; t <= seconds; t += 10)); do
    rss=$(awk '/VmRSS/ {print $2}' /proc/$player/status)
    [ "$rss" -gt "$peak" ] && peak=$rss
    echo "$t $rss $(wc -l <"$work/console.txt")"
    [ "$t" -lt "$seconds" ] && sleep 10
done
xdotool key Escape
wait "$player" && status=0 || status=$?
player=
echo "peak_rss_kib $peak"
echo "exit_status $status"
