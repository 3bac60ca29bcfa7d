#!/usr/bin/env bash
# scripts/build-windows.sh as a careless user runs it, on a copy of the cache
# that scripts/test.sh has just filled: from a cache path with a space, twice
# at once on one cache, and on a damaged cache, which must stop it with a
# reason before it touches the zip it made before.
#   tests/scripts/windows_build_test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# Where build-windows.sh keeps its cache by default.
if [ "$(id -u)" -eq 0 ]; then default_cache=/var/cache/quorvel-windows; else default_cache=$HOME/.cache/quorvel-windows; fi
source_cache=${QUORVEL_WINDOWS_CACHE:-$default_cache}
[ -d "$source_cache" ] || { echo "FAILED: no cache in $source_cache: run scripts/build-windows.sh first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

cache="$work/cache with space"
cp -r "$source_cache" "$cache"
build() { # build OUT LOG: one run on the copied cache
    QUORVEL_WINDOWS_CACHE=$cache QUORVEL_WINDOWS_OUT=$1 bash "$root/scripts/build-windows.sh" >"$2" 2>&1
}
zip_of() { ls "$1"/quorvel-*-win64.zip 2>/dev/null; }

# Two runs at once on the one cache, each with its own output folder: both
# finish with a whole zip.
build "$work/out one" "$work/one.log" &
first=$!
build "$work/out two" "$work/two.log" || fail "the second run: $(tail -5 "$work/two.log")"
wait "$first" || fail "the first run: $(tail -5 "$work/one.log")"
for out in "$work/out one" "$work/out two"; do
    zip=$(zip_of "$out")
    [ -n "$zip" ] || fail "no zip in $out"
    unzip -tq "$zip" >/dev/null || fail "$zip is damaged"
    # Listed to a file: grep -q ending early would fail the pipe under pipefail.
    unzip -l "$zip" >"$work/list.txt"
    for program in quorvel.exe quorvel-check.exe quorvel-preview.exe; do
        grep -q "$program" "$work/list.txt" || fail "$zip lacks $program"
    done
done
echo "ok: two runs at once on one cache, from a path with a space"

# A damaged cache: one line that says what and how to clear it, status 1,
# and the zip of the run before untouched.
key=$(basename "$(dirname "$(find "$cache" -name complete -print -quit)")")
before=$(sha256sum "$(zip_of "$work/out one")")
: >"$cache/$key/prefix/bin/OpenAL32.dll"
status=0
build "$work/out one" "$work/damaged.log" || status=$?
[ "$status" -eq 1 ] || fail "a damaged cache ended with status $status: $(cat "$work/damaged.log")"
grep -q "damaged: prefix/bin/OpenAL32.dll is missing or empty" "$work/damaged.log" ||
    fail "no reason given: $(cat "$work/damaged.log")"
grep -q "rm -rf" "$work/damaged.log" || fail "no way out given: $(cat "$work/damaged.log")"
[ "$(sha256sum "$(zip_of "$work/out one")")" = "$before" ] || fail "the previous zip was touched"
echo "ok: a damaged cache stops the build with its reason and leaves the previous zip"
