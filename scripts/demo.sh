#!/usr/bin/env bash
# The main job on the virtual card: installs what is missing, builds, serves a
# sample virtual card to a private pcscd and shows what is on it through PC/SC.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
exec scripts/demo-card.sh build "$@"
