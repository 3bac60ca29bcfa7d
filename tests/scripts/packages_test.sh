#!/usr/bin/env bash
# scripts/packages.sh as the README's commands use it: a package that is
# missing gets installed, an installed list asks apt-get nothing, and a
# system without apt-get gets a clear line and a non-zero status.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]; }
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo -n)

# 1. No apt-get: the list and the way to build by hand, then status 1.
empty=$(mktemp -d)
trap 'rm -rf "$empty"' EXIT
out=$(env PATH="$empty" /bin/bash -c ". '$root/scripts/packages.sh'; ensure_packages build; echo went-on" 2>&1)
status=$?
check "no apt-get ends with status 1" test "$status" -eq 1
check "no apt-get says what to do" grep -q 'not a Debian or Ubuntu system (no apt-get)' <<<"$out"
check "no apt-get lists the packages" grep -q '^    libsfml-dev$' <<<"$out"
check "no apt-get stops the calling script" test "$(grep -c went-on <<<"$out")" -eq 0

# 2. Everything installed: nothing is said and apt-get is not run.
out=$(bash -c ". '$root/scripts/packages.sh'; ensure_packages build" 2>&1)
check "an installed list is quiet" test -z "$out"

# 3. A missing package is installed (a small one that nothing here needs).
probe=hello
"${sudo[@]}" apt-get purge -y -qq "$probe" >/dev/null 2>&1
check "$probe is missing to begin with" bash -c "! dpkg-query -W -f='\${db:Status-Status}' $probe 2>/dev/null | grep -qx installed"
out=$(bash -c ". '$root/scripts/packages.sh'; packages_probe=($probe); ensure_packages probe" 2>&1)
check "the missing package is named before installing" grep -q "Installing with .*apt-get: $probe" <<<"$out"
check "the missing package is installed" installed "$probe"
"${sudo[@]}" apt-get purge -y -qq "$probe" >/dev/null 2>&1

[ "$failures" -eq 0 ]
