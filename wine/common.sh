# Shared by the Wine scripts: a headless 32-bit Wine with no install prompts.
# $1 of the caller is the prefix directory (absolute).

kd_wine_env() {
    export WINEPREFIX="$1"
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
    unset DISPLAY WAYLAND_DISPLAY
}

# Wine is usable when the wrapper and the 32-bit loader are both installed
# (Debian's wrapper alone only warns that wine32 is missing) and the machine
# runs 32-bit programs at all: some virtual machines' kernels refuse them
# ("Exec format error"), whatever is installed.
kd_have_wine() {
    command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ] &&
        kd_runs_32bit
}

kd_runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Exit for "no Wine here": skipped on a developer's machine, a failure in CI.
kd_no_wine() {
    if [ "${KD_REQUIRE_WINE:-0}" = 1 ]; then
        echo "Wine is required (KD_REQUIRE_WINE=1) but not usable here" >&2
        exit 1
    fi
    echo "Wine is not usable here (not installed, or the machine does not run 32-bit programs): skipped" >&2
    exit 77
}
