#!/usr/bin/env bash
# scripts/play-example.sh with a display, as a user runs it: where no sound
# device opens it says so and plays the show silently (the show moves), and
# a second run while one plays is refused with a line instead of mixing the
# two.
#   tests/scripts/play_example_test.sh BUILD     (BUILD: a build folder with quorvel and quorvel-check)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
xvfb= player=
cleanup() {
    [ -n "$player" ] && kill "$player" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

. "$root/scripts/lib.sh"
start_xvfb 320x200
xvfb=$XVFB_PID
# A display, and a sound backend that does not exist: no device opens.
export WAYLAND_DISPLAY= XDG_SESSION_TYPE=x11 ALSOFT_DRIVERS=no-such-backend
export QUORVEL_BUILD_DIR=$build

bash "$root/scripts/play-example.sh" >"$work/out.txt" 2>"$work/err.txt" &
player=$!
for _ in $(seq 1200); do
    grep -q '^Shader cambiata -> indice 1' "$work/out.txt" && break
    kill -0 "$player" 2>/dev/null || fail "it ended: $(cat "$work/out.txt" "$work/err.txt")"
    sleep 0.05
done
grep -qx 'no sound device: the show plays silently' "$work/out.txt" || fail "no word of the sound device: $(cat "$work/out.txt")"
grep -q '^Shader cambiata -> indice 1' "$work/out.txt" || fail "the show did not move: $(cat "$work/out.txt")"
echo "ok: without a sound device the example plays silently and moves"

status=0
bash "$root/scripts/play-example.sh" >"$work/second.txt" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "a second run at once ended with status $status: $(cat "$work/second.txt")"
grep -q 'already running from this checkout' "$work/second.txt" || fail "no reason given: $(cat "$work/second.txt")"
kill -0 "$player" 2>/dev/null || fail "the second run ended the first"
echo "ok: a second run while one plays is refused"

xdotool key Escape
status=0
wait "$player" || status=$?
player=
[ "$status" -eq 0 ] || fail "Escape ended it with status $status"
echo "ok: Escape ends it with status 0"
