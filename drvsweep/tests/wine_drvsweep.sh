#!/bin/sh
# wine_drvsweep.sh PREFIX TESTEXE DLL WORKDIR
# Runs the drvsweep test program under Wine once for each Windows version
# that matters to the library: NT 4.0, 2000, XP and 98. Wine's version is set
# per program name, so the program runs as a copy named after the version.
set -u
here=$(cd "$(dirname "$0")" && pwd)
wine_dir=$here/../../wine
. "$wine_dir/common.sh"
prefix=$1
exe=$2
dll=$3
work=$4
kd_have_wine || kd_no_wine

# The Linux root is Wine's drive Z:.
dll_win=Z:$(printf '%s' "$dll" | tr '/' '\\')

mkdir -p "$work"
rc=0
for version in nt40 win2k winxp win98; do
    prog=wine_drvsweep_$version.exe
    cp "$exe" "$work/$prog" || exit 1
    if ! "$wine_dir/run.sh" "$prefix" reg add "HKCU\\Software\\Wine\\AppDefaults\\$prog" /v Version /d "$version" /f \
        >/dev/null 2>&1; then
        echo "$version: could not set Wine's version for $prog" >&2
        rc=1
        continue
    fi
    "$wine_dir/run.sh" "$prefix" "$work/$prog" "$version" "$dll_win"
    code=$?
    if [ $code -ne 0 ]; then
        echo "$version: exit code $code" >&2
        rc=1
    fi
done
exit $rc
