#!/bin/sh
# wine_setuptidy.sh PREFIX SETUPTIDY.EXE
# Runs setuptidy.exe under Wine with the command lines the setup program
# uses and with faulty ones, on folders made under the prefix's Windows
# directory, and checks what is left there and the exit code (always 0).
set -u
here=$(cd "$(dirname "$0")" && pwd)
wine_dir=$here/../../wine
. "$wine_dir/common.sh"
prefix=$1
exe=$2
kd_have_wine || kd_no_wine

W=$prefix/drive_c/windows
failures=0
case_name=

# Names made long enough that a path built from them does not fit in 260
# characters; the directories a shortened path would name must survive.
# C:\windows is 10 characters: "C:\windows\" + 248 characters is 259.
long_company=$(printf '%0250d' 0 | tr 0 k)
cut_company=$(printf '%0248d' 0 | tr 0 k)
# "C:\windows\Acme\" is 16 characters: + 243 is 259.
long_folder=$(printf '%0250d' 0 | tr 0 y)
cut_folder=$(printf '%0243d' 0 | tr 0 y)

fail() {
    echo "FAIL [$case_name]: $*" >&2
    failures=$((failures + 1))
}

# begin NAME: a fresh case, with none of the test's folders left over.
begin() {
    case_name=$1
    rm -rf "$W/Acme" "$W/Vantora" "$W/Laser" "$W/$cut_company"
}

# mk PATH...: a directory for a path ending in '/', else an empty file.
mk() {
    for p in "$@"; do
        case "$p" in
        */) mkdir -p "$W/$p" ;;
        *)
            mkdir -p "$(dirname "$W/$p")"
            : >"$W/$p"
            ;;
        esac
    done
}

# run ARGS: setuptidy with the command line tail ARGS (split at blanks).
run() {
    set -f
    # shellcheck disable=SC2086
    "$wine_dir/run.sh" "$prefix" "$exe" $1 >/dev/null 2>&1
    code=$?
    set +f
    [ $code -eq 0 ] || fail "exit code $code for '$1'"
}

present() {
    for p in "$@"; do
        [ -e "$W/$p" ] || fail "$p was removed"
    done
}

absent() {
    for p in "$@"; do
        [ ! -e "$W/$p" ] || fail "$p is still there"
    done
}

begin "company and folder"
mk Acme/Laser/Setup.exe Acme/Laser/Common/
run "/CAcme /FLaser"
absent Acme

begin "Setup.inx beside Setup.exe"
mk Acme/Laser/Setup.exe Acme/Laser/Setup.inx Acme/Laser/Common/
run "/CAcme /FLaser"
present Acme/Laser/Setup.exe Acme/Laser/Setup.inx
absent Acme/Laser/Common

begin "switches in lower case"
mk Acme/Laser/Setup.exe Acme/Laser/Common/
run "/cAcme /fLaser"
absent Acme

begin "blanks are dropped"
mk Acme/MyPrinter/Setup.exe Acme/MyPrinter/Common/
run "/C Acme /F My Printer"
absent Acme

begin "folder only, default company"
mk Vantora/Laser/Setup.exe Vantora/Laser/Common/
run "/Laser"
absent Vantora

begin "company switch alone names a folder"
mk Vantora/CAcme/Common/ Acme/Laser/Common/
run "/CAcme"
absent Vantora
present Acme/Laser/Common

begin "folder switch first"
mk Vantora/FLaser/Setup.exe Acme/Laser/Setup.exe
run "/FLaser /CAcme"
absent Vantora
present Acme/Laser/Setup.exe

begin "folder with a slash"
mk Acme/dir/sub/Setup.exe Acme/dir/sub/Common/
run "/CAcme /Fdir/sub"
absent Acme/dir/sub
present Acme/dir

begin "no argument"
mk Vantora/Setup.exe Vantora/Common/
run ""
absent Vantora

begin "directories not empty"
mk Acme/Laser/Common/readme.txt Acme/Laser/Setup.exe
run "/CAcme /FLaser"
present Acme/Laser/Common/readme.txt
absent Acme/Laser/Setup.exe

begin "missing folders"
run "/CAcme /FLaser"
absent Acme

begin "empty company name"
mk Laser/Setup.exe Laser/Common/
run "/C /FLaser"
present Laser/Setup.exe Laser/Common

begin "company name too long"
mk "$cut_company/"
run "/C$long_company /FLaser"
present "$cut_company"

begin "folder name too long"
mk "Acme/$cut_folder/"
run "/CAcme /F$long_folder"
present "Acme/$cut_folder"

begin "cleanup"
echo "setuptidy under Wine: $failures failures"
[ $failures -eq 0 ]
