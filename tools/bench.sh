#!/bin/bash
# Measures kd7720um against raw system calls on both builds and prints the
# ratios side by side (bench/kd_bench.cpp; bench/workload.h says what each
# measurement and its twin do):
#
#   the Linux build (build/bench, host preset), its C: drive in /dev/shm;
#   the Windows build (build/bench-win32, win32 preset): the real
#   kd7720um.dll under Wine, in a fresh prefix, its temp folder in /dev/shm,
#   against kernel32's CreateFile, ReadFile and WriteFile in the same process
#   (on a kernel without 32-bit support, under qemu-i386 if it is installed,
#   and then marked as emulated).
#
# Each hook measurement runs interleaved with its twin (hook, twin, hook,
# twin, ...) on the same file; a ratio is the median of the pairs' ratios,
# printed with its quartiles, so that a reader sees whether a miss is real.
#
# Environment:
#   KD_BENCH_PAIRS   pairs per measurement (default 9)
#   KD_BENCH_BUILDS  which builds (default "linux windows")
#   KD_BENCH_ROOT    folder for the files (default /dev/shm; "disk": the build folder's)
#   KD_BENCH_NICE    nice level of the runs (default 0)
# Further arguments go to kd_bench (e.g. --only intake,call).
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${KD_BENCH_PAIRS:-9}
builds=${KD_BENCH_BUILDS:-linux windows}
root=${KD_BENCH_ROOT:-/dev/shm}
level=${KD_BENCH_NICE:-0}
reports=$(pwd)/build/bench-reports
mkdir -p "$reports"
linux_report=-
windows_report=-
windows_note=""

build() { # preset folder
    if [ ! -f "$2/CMakeCache.txt" ]; then
        cmake --preset "$1" -B "$2" >/dev/null
    fi
    cmake --build "$2" --target kd_bench >/dev/null
}

for b in $builds; do
    case $b in
    linux)
        build host build/bench
        args=(--pairs "$pairs" --json "$reports/linux.json")
        [ "$root" = disk ] || args+=(--root "$root")
        echo "=== Linux build" >&2
        nice -n "$level" build/bench/bin/kd_bench "${args[@]}" "$@"
        linux_report=$reports/linux.json
        ;;
    windows)
        . wine/common.sh
        if ! command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
            windows_note="no mingw-w64 here (tools/setup-machine installs it)"
            continue
        fi
        build win32 build/bench-win32
        if ! kd_have_wine; then
            windows_note="Wine is not installed (tools/setup-machine installs it)"
            continue
        fi
        # A kernel that runs no 32-bit code cannot start Wine's loader; with
        # qemu-i386 it runs emulated, which slows the hook's own code (not the
        # system calls): such ratios are marked and overstate the hook's cost.
        through=""
        if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
            if command -v qemu-i386 >/dev/null 2>&1 && wine/qemu-ns.sh /usr/lib/wine/wine --version >/dev/null 2>&1; then
                through=wine/qemu-ns.sh
                windows_note="EMULATED: this kernel runs no 32-bit code, so Wine ran under qemu-i386"
            else
                windows_note="this kernel runs no 32-bit code, so Wine cannot start (qemu-i386 would emulate it)"
                continue
            fi
        fi
        temp_host=$root/kd-bench-win-$$
        [ "$root" = disk ] && temp_host=$(pwd)/build/bench-win32/temp
        echo "=== Windows build, under Wine${through:+ under qemu-i386}" >&2
        rm -f "$reports/windows.json"
        nice -n "$level" $through bench/run-windows.sh "$(pwd)/build/bench-win32/bin/kd_bench.exe" \
            "$(pwd)/build/bench-win32/wineprefix" "$temp_host" "$reports/windows.json" --pairs "$pairs" "$@" ||
            windows_note="${windows_note:+$windows_note; }kd_bench.exe failed under Wine (exit $?)"
        rm -rf "$temp_host"
        [ -f "$reports/windows.json" ] && windows_report=$reports/windows.json
        ;;
    *)
        echo "bench.sh: unknown build $b (linux, windows)" >&2
        exit 2
        ;;
    esac
done

python3 bench/report.py "$linux_report" "$windows_report" --windows-note "$windows_note"
