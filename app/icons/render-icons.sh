#!/usr/bin/env sh
# Renders the application icon's PNG sizes from its SVG drawing.
# Needs rsvg-convert (Debian package librsvg2-bin). Run after editing the SVG.
set -eu
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" quorvex-tiff2pdf.svg -o "quorvex-tiff2pdf-$size.png"
done
