#!/bin/sh
# prefix.sh setup|cleanup PREFIX
# setup: a fresh 32-bit prefix with the printer-driver version directory that
# wineboot does not make, and a persistent wineserver with the session
# started on /dev/null (a session that inherits a pipe costs seconds a run).
# cleanup: stops the prefix's wineserver.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
action=$1
prefix=$2
kd_have_wine || kd_no_wine
kd_wine_env "$prefix"
case "$action" in
setup)
    wineserver -k >/dev/null 2>&1
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    if ! timeout 300 wineboot --init </dev/null >"$prefix.boot.log" 2>&1; then
        echo "wineboot failed; see $prefix.boot.log" >&2
        exit 1
    fi
    timeout 120 wineserver -w
    mkdir -p "$prefix/drive_c/windows/system32/spool/drivers/w32x86/2"
    # The server outlives this script: it must not hold CTest's output pipe.
    wineserver -p </dev/null >/dev/null 2>&1
    timeout 120 wine cmd /c exit 0 </dev/null >/dev/null 2>&1
    echo "Wine prefix ready: $prefix"
    ;;
cleanup)
    wineserver -k >/dev/null 2>&1
    exit 0
    ;;
*)
    echo "usage: $0 setup|cleanup PREFIX" >&2
    exit 2
    ;;
esac
