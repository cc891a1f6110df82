#!/bin/sh
# run-windows.sh PROGRAM PREFIX TEMP_HOST REPORT [ARGS...]
# The Windows build's benchmark, for tools/bench.sh: a fresh Wine prefix,
# kd_bench.exe with its temp folder in TEMP_HOST (a host folder, in memory
# for a measurement without the disk) and the printer's data going to
# /dev/null, the report written to REPORT (a host path); the prefix stopped
# at the end.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
program=$1
prefix=$2
temp_host=$3
report=$4
shift 4
if ! "$here/wine/prefix.sh" setup "$prefix" >&2; then
    echo "run-windows.sh: the Wine prefix could not be made (see $prefix.boot.log)" >&2
    exit 1
fi
trap '"$here/wine/prefix.sh" cleanup "$prefix" >/dev/null 2>&1' EXIT
mkdir -p "$temp_host"
# Z: is the host's root under Wine.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
KD_WINE_TIMEOUT=${KD_WINE_TIMEOUT:-7200} "$here/wine/run.sh" "$prefix" "$program" --temp "$(winpath "$temp_host")" \
    --printer 'Z:\dev\null' --json "$(winpath "$report")" "$@"
