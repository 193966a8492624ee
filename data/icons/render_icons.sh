#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from its SVG. Run it after
# changing the SVG and commit the PNGs: the build only copies them, so it
# needs no renderer.
set -euo pipefail
cd "$(dirname "$0")"
bash ../../scripts/install_packages.sh librsvg2-bin
for size in 48 128 256; do
  rsvg-convert --width "$size" --height "$size" org.torquelin.Torquelin.svg \
    --output "org.torquelin.Torquelin-$size.png"
done
