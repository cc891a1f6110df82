#!/bin/sh
# run.sh PREFIX PROGRAM.exe [ARGS...]
# Runs a Windows test program under Wine in the given prefix, headless, with
# stdin from /dev/null and a time limit; passes its exit code on (Wine gives
# the code's low byte; a crash gives 5 with a backtrace on stdout).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
prefix=$1
shift
kd_have_wine || kd_no_wine
kd_wine_env "$prefix"
if [ ! -f "$prefix/system.reg" ]; then
    echo "no Wine prefix at $prefix (the wineprefix fixture makes it)" >&2
    exit 1
fi
timeout "${KD_WINE_TIMEOUT:-300}" wine "$@" </dev/null
