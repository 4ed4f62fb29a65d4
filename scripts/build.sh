#!/usr/bin/env bash
# Configures and builds PixelMend into a build folder.
# Usage: scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$here/build}"
shift || true
cmake -S "$here" -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
