#!/bin/sh
# pecheck_selftest.sh PECHECK BAD.DLL CONSOLE.EXE
# The PE check must fail, naming each fault, on a DLL with a decorated
# export, an unexpected export, a missing one and an import of the C++ runtime's DLL, and on a
# console program said to be a GUI one.
set -u
pecheck=$1
bad_dll=$2
console_exe=$3
failures=0

expect_faults() {
    what=$1
    shift
    out=$("$@" 2>&1)
    rc=$?
    [ $rc -eq 1 ] || { echo "FAIL [$what]: exit code $rc, not 1"; failures=$((failures + 1)); }
    printf '%s\n' "$out"
    shift $#
}

expect_message() {
    printf '%s\n' "$out" | grep -qiF -- "$1" || { echo "FAIL [$what]: no \"$1\""; failures=$((failures + 1)); }
}

expect_faults "bad DLL" "$pecheck" "$bad_dll" Bad
expect_message "decorated export 'Bad@4'"
expect_message "unexpected export 'Bad@4'"
expect_message "missing export 'Bad'"
expect_message "imports 'libstdc++"

expect_faults "console program" "$pecheck" --gui "$console_exe"
expect_message "not Windows GUI"

[ $failures -eq 0 ]
