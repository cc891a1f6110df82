#!/bin/sh
# Remakes the PCL XL example documents from their PostScript sources with
# Ghostscript's monochrome PCL XL device. The .pxl files are checked in; run
# this only after changing a .ps file (or to see what another Ghostscript
# version writes), then run the pclxl tests.
#
#   sample.pxl     six pages: A4 portrait, landscape (pages 3 and 5), Letter (page 4)
#   one-page.pxl   one A4 portrait page
#   landscape.pxl  two A4 landscape pages
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command -v gs >/dev/null 2>&1 || { echo "make-samples.sh: Ghostscript (gs) is not installed" >&2; exit 1; }
# 150 dpi keeps each file at a few tens of KB; the large page numbers become
# raster images, the small text downloaded bitmap fonts.
for name in sample one-page landscape; do
    gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pxlmono -r150 \
        -sOutputFile="$here/$name.pxl" "$here/$name.ps"
    echo "$name.pxl: $(wc -c <"$here/$name.pxl") bytes"
done
