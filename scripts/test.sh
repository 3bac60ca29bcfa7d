#!/usr/bin/env bash
# Builds everything and runs every test. The display tests start their own
# Xvfb (and openbox where windows matter); nothing is skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
