#!/usr/bin/env bash
# pe_check.sh PROGRAM.exe: the shipping program is a 32-bit GUI executable
# that needs no DLL beyond Windows' own.
set -euo pipefail
exe=$1
dump=$(i686-w64-mingw32-objdump -p "$exe")
grep -q "file format pei-i386" <<<"$dump" || { echo "not a 32-bit PE executable"; exit 1; }
grep -Eq "^Subsystem[[:space:]]+0*2[[:space:]]" <<<"$dump" || { echo "not a GUI executable"; grep Subsystem <<<"$dump"; exit 1; }
system_dlls="kernel32 user32 gdi32 shell32 advapi32 comctl32 msimg32 ole32 oleaut32 msvcrt bcrypt shlwapi comdlg32 version psapi"
status=0
while read -r dll; do
  base=$(tr 'A-Z' 'a-z' <<<"${dll%.dll}")
  base=${base%.dll}
  if [[ " $system_dlls " == *" $base "* || $base == api-ms-win-* ]]; then
    echo "imports $dll"
  else
    echo "imports $dll: not a Windows system DLL"
    status=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
exit $status
