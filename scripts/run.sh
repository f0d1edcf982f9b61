#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillon Sonoret.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
quillon_install "${quillon_packages[@]}"
quillon_build "$root/build"
exec "$root/build/src/quillon-sonoret"
