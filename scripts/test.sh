#!/usr/bin/env bash
# Builds everything and runs every test. The display tests start their own
# Xvfb (and openbox where windows matter); nothing is skipped.
#
# Three builds, in build-fuzz/, build-sanitizers/ and build/:
#   1. fuzz:      clang + libFuzzer, runs the sequence-file fuzzer for a minute
#   2. sanitizers: AddressSanitizer + UndefinedBehaviorSanitizer, every test,
#                  and a leak check of the tests that load no GL or audio driver
#   3. the normal build, with the Windows cross build and the Wine tests
# QUORVEL_QUICK=1 runs only the third.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$root/build}
jobs=$(nproc)

if [ -z "${QUORVEL_QUICK:-}" ]; then
    echo "== fuzzing the sequence reader"
    CC=clang CXX=clang++ cmake -S "$root" -B "$build-fuzz" -DQUORVEL_FUZZ=ON >/dev/null
    cmake --build "$build-fuzz" -j"$jobs"
    ctest --test-dir "$build-fuzz" --output-on-failure

    echo "== sanitizers"
    cmake -S "$root" -B "$build-sanitizers" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WINDOWS_TESTS=OFF \
        "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
        >/dev/null
    cmake --build "$build-sanitizers" -j"$jobs"
    # Mesa and OpenAL unload their drivers before exit, so their few leaked
    # bytes cannot be told apart from ours: check leaks where no driver loads.
    for test in sequence_line_test switch_rule_test x11_image_test; do
        ASAN_OPTIONS=detect_leaks=1 "$build-sanitizers/tests/$test" --gtest_brief=1
    done
    ASAN_OPTIONS=detect_leaks=0 ctest --test-dir "$build-sanitizers" --output-on-failure -j"$jobs"
fi

echo "== tests"
cmake -S "$root" -B "$build"
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"
