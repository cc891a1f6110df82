#!/bin/sh
# The job tool's time and peak memory for make, run (collated x3 and booklet)
# and explain on documents of 10 MB, 100 MB and 1 GB made of the pages of a
# real Ghostscript document (jobtool/bench/docbench.cpp). The documents go to
# a folder on disk (not /dev/shm) and are deleted after each size.
#
#   tools/docbench.sh [SIZES_IN_MB [OPTIONS]]   e.g. tools/docbench.sh 10,100
#
# Options go to jobtool_docbench: --only collated (or booklet), --keep, --cold, --runs N
# (run and the hook alone take turns N times, make and explain run N times; medians
# are reported).
#
# Environment: KD_DOCBENCH_DIR (default /tmp/docbench); KD_DOCBENCH_SOURCE, the
# document whose pages are repeated (default: man-db's manual with text as
# graphics, about 260 KB a page). The hook spools at most 1999 pages, so a
# 1 GB collated or booklet job needs pages of 500 KB or more:
# KD_DOCBENCH_SOURCE=scanned takes pages that are one large bitmap each, as
# Ghostscript's pxlmono device makes them of scanned-page noise.
set -eu
cd "$(dirname "$0")/.."
sizes=${1:-10,100,1000}
[ $# -gt 0 ] && shift
dir=${KD_DOCBENCH_DIR:-/tmp/docbench}
cmake --preset host >/dev/null
cmake --build --preset host --target jobtool jobtool_docbench jobtool_hookalone
real=build/host/real-documents
[ -r "$real/man-db-nocache.pxl" ] || jobtool/tests/make-real-documents.sh "$real"
source=${KD_DOCBENCH_SOURCE:-$real/man-db-nocache.pxl}
if [ "$source" = scanned ]; then
    # Six pages of about 1 MB each (jobtool/bench/scanned-pages.ps).
    source=build/host/scanned-pages.pxl
    [ -r "$source" ] || gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pxlmono -r600 -sPAPERSIZE=a4 \
        -sOutputFile="$source" jobtool/bench/scanned-pages.ps
fi
build/host/bin/jobtool_docbench --jobtool build/host/bin/jobtool --hook-alone build/host/bin/jobtool_hookalone \
    --source "$source" \
    --sizes "$sizes" --dir "$dir" "$@"
