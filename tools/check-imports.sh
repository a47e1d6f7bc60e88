#!/bin/sh
# Fails when the executable imports a DLL that is not on Windows' known-DLL list.
# Such a DLL would be searched for in the program's folder first, before any of
# the program's own code could harden the search path.
# Usage: check-imports.sh OBJDUMP EXE
set -eu
objdump=$1
exe=$2
known=" advapi32.dll comdlg32.dll gdi32.dll imm32.dll kernel32.dll msvcrt.dll normaliz.dll ole32.dll oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll shell32.dll shlwapi.dll user32.dll ws2_32.dll "
names=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr 'A-Z' 'a-z' | tr -d '\r')
[ -n "$names" ] || { echo "check-imports: no import table found in $exe" >&2; exit 1; }
bad=0
for n in $names; do
    case "$known" in
        *" $n "*) ;;
        *) echo "check-imports: $exe imports $n, which is not a known DLL" >&2; bad=1 ;;
    esac
done
exit $bad
