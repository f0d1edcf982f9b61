#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (float-to-integer
# overflow included) in build-sanitize/ and runs every test there; any report fails it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
quillon_install "${quillon_packages[@]}" "${quillon_test_packages[@]}"
cmake -S "$root" -B "$root/build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DQUILLON_SANITIZE=ON >/dev/null
cmake --build "$root/build-sanitize"
cd "$root/build-sanitize"
# Qt and fontconfig keep caches until exit: leak reports from them say nothing about us.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure -j2
