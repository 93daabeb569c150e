#!/usr/bin/env bash
# Serves a sample virtual card (or the image given) to a private pcscd, shows
# the readers and the card as PC/SC sees them, prints what the card holds and
# stops everything again. The daemon runs in a mount namespace of its own, so
# a system pcscd is left alone; that needs root.
#   scripts/demo-card.sh [BUILD_DIR] [IMAGE.json]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
shift || true
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target orvelcard >/dev/null

if [[ $(id -u) -ne 0 ]]; then
  exec sudo "$build/bin/orvelcard" demo "$@"
fi
exec "$build/bin/orvelcard" demo "$@"
