#!/usr/bin/env bash
# Renders the hicolor PNG sizes from vexa.svg (ImageMagick). The PNGs are kept in the tree so the
# build does not depend on an SVG renderer; run this again after changing the SVG.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
for size in 16 22 24 32 48 64 128 256 512; do
    "$convert" -background none -density 384 "$here/vexa.svg" -resize "${size}x${size}" \
        -define png:exclude-chunks=date,time "PNG32:$here/vexa-$size.png"
done
