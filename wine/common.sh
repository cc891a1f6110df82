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
# (Debian's wrapper alone only warns that wine32 is missing).
kd_have_wine() {
    command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ]
}

# Exit for "no Wine here": skipped on a developer's machine, a failure in CI.
kd_no_wine() {
    if [ "${KD_REQUIRE_WINE:-0}" = 1 ]; then
        echo "Wine is required (KD_REQUIRE_WINE=1) but not installed" >&2
        exit 1
    fi
    echo "Wine is not installed: skipped" >&2
    exit 77
}
