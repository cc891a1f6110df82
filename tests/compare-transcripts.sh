#!/bin/sh
# compare-transcripts.sh REFERENCE_DIR OTHER_DIR
# The job scenarios write a transcript per test (printer documents, traces,
# message boxes); two runs must give byte-identical ones: the Linux build and
# the Windows build, or one thread and the spooler's pool of threads. Skipped
# (77) when the reference transcripts are not there, unless
# KD_REQUIRE_WINE=1.
set -u
reference=$1
other=$2
if [ ! -d "$reference" ] || [ -z "$(ls -A "$reference" 2>/dev/null)" ]; then
    echo "no reference transcripts in $reference (run those scenarios first)" >&2
    [ "${KD_REQUIRE_WINE:-0}" = 1 ] && exit 1
    exit 77
fi
if [ -z "$(ls -A "$other" 2>/dev/null)" ]; then
    echo "no transcripts in $other (were its scenarios skipped?)" >&2
    [ "${KD_REQUIRE_WINE:-0}" = 1 ] && exit 1
    exit 77
fi
if diff -r "$reference" "$other" >/dev/null; then
    echo "$(ls "$other" | wc -l) scenario transcripts identical in $reference and $other"
    exit 0
fi
diff -r "$reference" "$other" | head -60
exit 1
