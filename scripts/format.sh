#!/usr/bin/env bash
# Lays out every C++ source of the tree by .clang-format; with --check, changes nothing and
# fails naming the files that do not follow it.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^tests/fuzz/seeds/')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run --Werror --style=file "${files[@]}"
else
  clang-format -i --style=file "${files[@]}"
fi
