#!/usr/bin/env bash
# Installs what is missing, builds PixelMend (plain and with the address and
# undefined-behaviour sanitizers) and runs the whole test suite in both builds.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/setup.sh"

"$here/scripts/build.sh" "$here/build"
echo "== tests (plain build)"
ctest --test-dir "$here/build" --output-on-failure -j "$(nproc)"

"$here/scripts/build.sh" "$here/build-asan" -DPXMEND_SANITIZE=ON -DPXMEND_BENCHMARKS=OFF
echo "== tests (address and undefined-behaviour sanitizers)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$here/build-asan" --output-on-failure -j "$(nproc)"
