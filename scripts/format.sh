#!/usr/bin/env bash
# Formats every C++ file of the tree with .clang-format (clang-format-14).
#   scripts/format.sh          rewrites the files in place
#   scripts/format.sh --check  lists the files that differ and fails if any does
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == --check ]]; then
  clang-format-14 --dry-run --Werror "${files[@]}"
else
  clang-format-14 -i "${files[@]}"
fi
