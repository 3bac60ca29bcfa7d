#!/usr/bin/env bash
# Builds everything and runs every test. The display tests start their own
# Xvfb (and openbox where windows matter); nothing is skipped.
#
# Three builds, in build-fuzz/, build-sanitizers/ and build/:
#   1. fuzz:      clang + libFuzzer, runs the sequence-file fuzzer for a minute
#   2. sanitizers: AddressSanitizer + UndefinedBehaviorSanitizer + leak check,
#                  every test
#   3. the normal build, with the Windows program built from source
#      (scripts/build-windows.sh) and tested under Wine
# QUORVEL_QUICK=1 runs only the third. The normal build also builds the .deb,
# installs it, plays its example show and removes it again.
#
# Installs the Debian packages it lacks first (scripts/packages.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$root/build}
jobs=$(nproc)
. "$root/scripts/packages.sh"

echo "== packages"
ensure_packages build headless test

if [ -z "${QUORVEL_QUICK:-}" ]; then
    echo "== fuzzing the sequence reader"
    CC=clang CXX=clang++ cmake -S "$root" -B "$build-fuzz" -DQUORVEL_FUZZ=ON
    cmake --build "$build-fuzz" -j"$jobs"
    ctest --test-dir "$build-fuzz" --output-on-failure

    echo "== sanitizers"
    cmake -S "$root" -B "$build-sanitizers" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=ON \
        -DQUORVEL_WINDOWS_TESTS=OFF -DQUORVEL_SYSTEM_TESTS=OFF \
        "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
    cmake --build "$build-sanitizers" -j"$jobs"
    # Leaks too, in the test programs and in every player they start. Mesa and
    # OpenAL unload their drivers before exit; keeping them loaded lets
    # LeakSanitizer tell their allocations from ours (tests/leaks/lsan.supp).
    LD_PRELOAD="$build-sanitizers/tests/libkeep_modules_loaded.so" \
        ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0 \
        LSAN_OPTIONS=suppressions="$root/tests/leaks/lsan.supp":print_suppressions=0 \
        ctest --test-dir "$build-sanitizers" --output-on-failure -j"$jobs"
fi

echo "== the Windows program (libraries cached after the first build)"
bash "$root/scripts/build-windows.sh"
windows_zip=$(ls "$root"/build-windows/quorvel-*-win64.zip)

echo "== tests"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=ON -DQUORVEL_BUILD_BENCH=ON \
    -DQUORVEL_WINDOWS_TESTS=ON -DQUORVEL_SYSTEM_TESTS=ON -DQUORVEL_WINDOWS_PACKAGE="$windows_zip"
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"
