#!/usr/bin/env bash
# The Debian package as a user gets it: built with CPack from the build tree
# BUILD, checked by lintian, installed with apt-get, its example show played
# where it is installed on a private X server, checked and rendered by the
# authoring commands, and removed again without a trace.
#   tests/scripts/package_test.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo -n)
xvfb= player= installed=
cleanup() {
    [ -n "$installed" ] && "${sudo[@]}" apt-get purge -y -qq quorvel >/dev/null 2>&1
    [ -n "$player" ] && kill "$player" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

if dpkg-query -W -f='${db:Status-Status}' quorvel 2>/dev/null | grep -qx installed; then
    fail "quorvel is installed on this machine already; this test would remove it"
fi

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null)
deb=$(ls "$work"/quorvel_*_amd64.deb)
lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb" || fail "lintian reports errors"
echo "ok: lintian reports no errors"
dpkg-deb -f "$deb" Depends | grep -q 'libsfml-graphics2.5' || fail "the dependencies do not come from the binary"

"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
installed=yes
echo "ok: installed"
files=$(dpkg -L quorvel | while read -r path; do [ -d "$path" ] || echo "$path"; done)
for path in /usr/bin/quorvel /usr/bin/quorvel-check /usr/bin/quorvel-render /usr/bin/quorvel-preview \
    /usr/share/quorvel/examples/show/shader_sequence.txt /usr/share/doc/quorvel/README.md \
    /usr/share/man/man1/quorvel.1.gz /usr/share/man/man1/quorvel-check.1.gz /usr/share/man/man1/quorvel-render.1.gz \
    /usr/share/man/man1/quorvel-preview.1.gz; do
    [ -e "$path" ] || fail "$path is not installed"
done
for page in quorvel quorvel-check quorvel-render quorvel-preview; do
    man -l "/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q 'EXIT STATUS' || fail "the manual page of $page does not read"
done
dpkg-deb -f "$deb" Depends | grep -q 'libavcodec' || fail "quorvel-render's FFmpeg libraries are not in Depends"

# The installed example, checked where it lies (read-only to a user) without a display.
env -u DISPLAY -u WAYLAND_DISPLAY quorvel-check /usr/share/quorvel/examples/show >"$work/check.txt" ||
    fail "quorvel-check finds problems in the installed example: $(cat "$work/check.txt")"
grep -q '14 of 14 steps load' "$work/check.txt" || fail "quorvel-check: $(cat "$work/check.txt")"
echo "ok: quorvel-check passes the installed example"

# Play the installed show where it lies, over a plain desktop.
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 320x200x24 -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
read -r -t 20 -u "$fd" number || fail "Xvfb did not start"
export DISPLAY=:$number
xsetroot -solid '#336699'
(cd /usr/share/quorvel/examples/show && ALSOFT_DRIVERS=null exec quorvel >"$work/out.txt" 2>"$work/err.txt") &
player=$!
for _ in $(seq 600); do
    grep -q '^Shader cambiata -> indice 1$' "$work/out.txt" && break
    kill -0 "$player" 2>/dev/null || fail "the player ended: $(cat "$work/out.txt" "$work/err.txt")"
    sleep 0.05
done
grep -qx 'Shader caricate: [1-9][0-9]*' "$work/out.txt" || fail "console: $(cat "$work/out.txt")"
grep -qx 'Shader cambiata -> indice 1' "$work/out.txt" || fail "no step change: $(cat "$work/out.txt")"
import -window root "$work/shot.png"
colours=$(convert "$work/shot.png" -format '%k' info:)
# The bare desktop is one plain colour; every effect of the show adds others.
[ "$colours" -gt 1 ] || fail "the screen shows the bare desktop: the show did not draw"
echo "ok: the installed show plays ($colours colours on screen)"
xdotool key Escape
status=0
wait "$player" || status=$?
player=
[ "$status" -eq 0 ] || fail "Escape ended the player with status $status"
echo "ok: Escape ends it with status 0"

quorvel-render --seconds 0.5 --fps 30 /usr/share/quorvel/examples/show "$work/example.mkv" >/dev/null ||
    fail "quorvel-render could not render the installed example"
frames=$(ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 \
    "$work/example.mkv")
[ "$frames" = 15 ] || fail "quorvel-render wrote $frames frames, not 15"
echo "ok: quorvel-render renders the installed example"

"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quorvel >/dev/null
installed=
for path in $files /usr/share/quorvel /usr/share/doc/quorvel; do
    [ ! -e "$path" ] || fail "$path is left behind"
done
echo "ok: removed without a trace"
