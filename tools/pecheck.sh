#!/bin/sh
# pecheck.sh [--gui] FILE [EXPORT...]
# Checks what a PE32 deliverable shows the Windows loader:
#   - it exports exactly the names given, undecorated (no '@'), and nothing
#     by ordinal alone;
#   - it imports only system DLLs: kernel32, user32, gdi32, winspool.drv,
#     advapi32, msvcrt (names compared case-insensitively);
#   - with --gui, its subsystem is Windows GUI (a program without a console).
# Prints each fault and exits 1 when there is any, 0 otherwise; 2 for usage.
set -u

OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}
ALLOWED_IMPORTS="kernel32.dll user32.dll gdi32.dll winspool.drv advapi32.dll msvcrt.dll"

want_gui=0
if [ "${1:-}" = "--gui" ]; then
    want_gui=1
    shift
fi
if [ $# -lt 1 ]; then
    echo "usage: $0 [--gui] FILE [EXPORT...]" >&2
    exit 2
fi
file=$1
shift

if [ ! -f "$file" ]; then
    echo "pecheck: $file: no such file" >&2
    exit 1
fi
if ! dump=$("$OBJDUMP" -p "$file" 2>&1); then
    echo "pecheck: $OBJDUMP -p $file failed:" >&2
    printf '%s\n' "$dump" >&2
    exit 1
fi

faults=0
fault() {
    echo "pecheck: $file: $*" >&2
    faults=$((faults + 1))
}

# Named exports: the entries of the name table, one "[   n] Name" a line.
exports=$(printf '%s\n' "$dump" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ || /^\[Name Pointer\/Ordinal\] Table/ { names = 1; next }
    names && /^[ \t]*\[ *[0-9]+\]/ { sub(/^[ \t]*\[ *[0-9]+\] */, ""); print; next }
    names { names = 0 }')

# Every slot of the export address table must carry one of those names.
slots=$(printf '%s\n' "$dump" | awk '/^\tExport Address Table[ \t]+[0-9a-fA-F]+$/ { print $NF; exit }')
if [ -n "$slots" ]; then
    nslots=$(printf '%d' "0x$slots")
    nnames=$(printf '%s\n' "$exports" | grep -c .)
    if [ "$nslots" -ne "$nnames" ]; then
        fault "$nslots export slots but $nnames named exports (an export by ordinal only)"
    fi
fi

old_ifs=$IFS
IFS='
'
for name in $exports; do
    case "$name" in
    *@*) fault "decorated export '$name'" ;;
    esac
    found=0
    for want in "$@"; do
        [ "$name" = "$want" ] && found=1
    done
    [ $found = 1 ] || fault "unexpected export '$name'"
done
IFS=$old_ifs

for want in "$@"; do
    if ! printf '%s\n' "$exports" | grep -qxF -- "$want"; then
        fault "missing export '$want'"
    fi
done

# Imported DLLs.
imports=$(printf '%s\n' "$dump" | sed -n 's/^[ \t]*DLL Name: *//p')
IFS='
'
for dll in $imports; do
    lower=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
    ok=0
    for allowed in $(echo "$ALLOWED_IMPORTS" | tr ' ' '\n'); do
        [ "$lower" = "$allowed" ] && ok=1
    done
    [ $ok = 1 ] || fault "imports '$dll', not a system DLL of the allowed set"
done
IFS=$old_ifs

if [ $want_gui = 1 ]; then
    subsystem=$(printf '%s\n' "$dump" | awk '/^Subsystem[ \t]/ { print $2; exit }')
    case "$subsystem" in
    00000002) ;;
    *) fault "subsystem is '${subsystem:-none}', not Windows GUI (00000002)" ;;
    esac
fi

if [ $faults -ne 0 ]; then
    exit 1
fi
echo "pecheck: $file: ok"
exit 0
