#!/usr/bin/env bash
# Installs what is missing, builds PixelMend and runs the demo session on the
# sample data it generates into out/demo (options such as --verbose are passed on).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "$here/build"
exec "$here/build/bin/pixelmend" demo "$here/out/demo" "$@"   # --verbose: the transcript too
