#!/bin/sh
# compare-transcripts.sh LINUX_DIR WINDOWS_DIR
# The job scenarios write a transcript per test (printer documents, traces,
# message boxes) on both builds; they must be byte-identical. Skipped (77)
# when the Linux build's transcripts are not there, unless KD_REQUIRE_WINE=1.
set -u
linux=$1
windows=$2
if [ ! -d "$linux" ] || [ -z "$(ls -A "$linux" 2>/dev/null)" ]; then
    echo "no transcripts of the Linux build in $linux (run its scenarios first)" >&2
    [ "${KD_REQUIRE_WINE:-0}" = 1 ] && exit 1
    exit 77
fi
if [ -z "$(ls -A "$windows" 2>/dev/null)" ]; then
    echo "no transcripts of the Windows build in $windows" >&2
    exit 1
fi
if diff -r "$linux" "$windows" >/dev/null; then
    echo "$(ls "$windows" | wc -l) scenario transcripts identical on both builds"
    exit 0
fi
diff -r "$linux" "$windows" | head -60
exit 1
