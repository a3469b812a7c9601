#!/usr/bin/env bash
# Renders the programs' icons at the hicolor theme's fixed sizes. Run after changing an SVG;
# the PNGs are committed, so building needs no renderer.
set -euo pipefail
cd "$(dirname "$0")"
for nome in lumora modrevo; do
  for t in 16 22 24 32 48 64 128 256; do
    mkdir -p "${t}x${t}"
    rsvg-convert -w "$t" -h "$t" "$nome.svg" -o "${t}x${t}/$nome.png"
  done
done
