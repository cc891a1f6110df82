#!/bin/sh
# Makes the PCL XL documents of the real-document tests from PostScript and
# PDF that Debian ships, with Ghostscript's monochrome PCL XL device, into
# the folder given (the build tree): man-db's manual and shared-mime-info's
# format document, with the glyph cache (text as downloaded characters, codes
# reused) and without it (text as graphics), portrait, landscape, and
# portrait with landscape pages among them.
#
#   make-real-documents.sh OUTDIR
#
# tools/setup-machine installs Ghostscript and the packages of the sources.
set -eu
out=$1
mkdir -p "$out"
rm -f "$out"/*.pxl
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

need() {
    [ -r "$1" ] || { echo "make-real-documents.sh: $1 is missing (Debian package $2; run tools/setup-machine)" >&2; exit 1; }
}
command -v gs >/dev/null 2>&1 || { echo "make-real-documents.sh: Ghostscript (gs) is not installed (run tools/setup-machine)" >&2; exit 1; }
manual=/usr/share/doc/man-db/man-db-manual.ps.gz
mimeinfo=/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf
need "$manual" man-db
need "$mimeinfo" shared-mime-info
gzip -dc "$manual" >"$tmp/man-db.ps"
cp "$mimeinfo" "$tmp/mime-info.pdf"

gs="gs -q -dNOPAUSE -dBATCH -dSAFER"
pxl() { # OUTPUT OPTIONS... INPUT...
    name=$1
    shift
    $gs -sDEVICE=pxlmono -sOutputFile="$out/$name.pxl" "$@" >"$tmp/gs.log" 2>&1 || { cat "$tmp/gs.log" >&2; exit 1; }
}
landscape="-dFIXEDMEDIA -dDEVICEWIDTHPOINTS=842 -dDEVICEHEIGHTPOINTS=595"

pxl man-db "$tmp/man-db.ps"
pxl man-db-nocache -dNOCACHE -dFirstPage=1 -dLastPage=4 "$tmp/man-db.ps"
pxl man-db-landscape $landscape -dFirstPage=1 -dLastPage=6 "$tmp/man-db.ps"
pxl mime-info "$tmp/mime-info.pdf"
pxl mime-info-nocache -dNOCACHE -dFirstPage=1 -dLastPage=5 "$tmp/mime-info.pdf"

# Portrait pages with landscape pages among them, in one run (one font
# cache): pieces of the PDF, the landscape ones fitted to turned paper.
piece() { # NAME FIRST LAST [OPTIONS]
    name=$1 first=$2 last=$3
    shift 3
    $gs -sDEVICE=pdfwrite -dAutoRotatePages=/None -sOutputFile="$tmp/$name.pdf" -dFirstPage="$first" \
        -dLastPage="$last" "$@" "$tmp/mime-info.pdf" >"$tmp/gs.log" 2>&1 || { cat "$tmp/gs.log" >&2; exit 1; }
}
piece a 4 5
piece b 1 2 $landscape -dPDFFitPage
piece c 6 8
piece d 3 3 $landscape -dPDFFitPage
pxl mixed "$tmp/a.pdf" "$tmp/b.pdf" "$tmp/c.pdf" "$tmp/d.pdf"

for f in "$out"/*.pxl; do
    echo "$(basename "$f"): $(wc -c <"$f") bytes"
done
