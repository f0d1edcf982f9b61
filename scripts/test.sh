#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (widgets offscreen, the whole
# program under Xvfb, the real sound output into SDL's disk driver).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
quillon_install "${quillon_packages[@]}" "${quillon_test_packages[@]}"
quillon_build "$root/build"
cd "$root/build"
ctest --output-on-failure -j2
