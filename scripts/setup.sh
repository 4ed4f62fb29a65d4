#!/usr/bin/env bash
# Installs the Debian packages PixelMend builds on, only those that are missing.
# This is the one place where the project's dependencies are named.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev   # tests and benchmarks
  nlohmann-json3-dev                           # design files, transcripts
  libutfcpp-dev                                # UTF-8 conversion of narrow texts
  libtiff-dev libtiff-tools                    # TIFF rasters (and tiffcp for the speed baseline)
  libpng-dev libjpeg-dev                       # PNG and JPEG rasters
  libgif-dev                                   # GIF rasters (read, and written back in place)
  netpbm                                       # giftopnm: a GIF decoder apart from giflib, for the GIF tests
  libcairo2-dev                                # drawing surface
  libleptonica-dev                             # skew detection, rotation, speckle removal
  libfreetype-dev libfontconfig-dev fonts-dejavu-core  # text drawn as glyph outlines, fonts found by family
  libpolyclipping-dev                          # cutting elements at the fence (Clipper)
  libdxflib-dev                                # AutoCAD DXF drawings (import-dxf)
  clang-format git                             # the layout check of the test suite
  locales                                      # en_US.UTF-8, for the tests of grouped counts
  poppler-utils                                # pdfinfo and pdftotext: the test of the PDF manual
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests of counts grouped by the user's locale need English (United States) settings.
if ! locale -a 2>/dev/null | grep -qiE '^en_US\.utf-?8$'; then
  echo "setup: generating the en_US.UTF-8 locale" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO localedef -i en_US -f UTF-8 en_US.UTF-8
fi
