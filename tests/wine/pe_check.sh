#!/usr/bin/env bash
# pe_check.sh PROGRAM.exe: the shipping program is a 32-bit GUI executable
# that needs no DLL beyond Windows' own.
set -euo pipefail
exe=$1
dump=$(TZ=UTC0 i686-w64-mingw32-objdump -p "$exe")
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
# What a Windows program carries: the manifest's execution level, Windows
# versions and DPI awareness, the version texts, and a time stamp that is
# the sources' own (SOURCE_DATE_EPOCH or the last commit), not the build's.
has() { grep -aqF -- "$1" "$exe" || { echo "no $2"; status=1; }; }
has 'level="highestAvailable"' "requestedExecutionLevel highestAvailable"
has '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' "supportedOS for Windows 10 and 11"
has '{e2011457-1546-43c5-a5fe-008deee3d3f0}' "supportedOS for Vista"
has '>true</dpiAware>' "DPI awareness"
for text in CompanyName FileDescription ProductName LegalCopyright OriginalFilename InternalName "Ровенд настройка"; do
  python3 -c 'import sys; sys.exit(sys.argv[1].encode("utf-16-le") not in open(sys.argv[2], "rb").read())' "$text" "$exe" ||
    { echo "no version text $text"; status=1; }
done
# (A program not linked again since keeps an earlier commit's time.)
source_dir=${ROVEND_SOURCE_DIR:-$(dirname "$0")/../..}
stamp=$(TZ=UTC0 date -d "$(sed -n 's/^Time\/Date[[:space:]]*//p' <<<"$dump")" +%s 2>/dev/null || echo none)
if [[ -n ${SOURCE_DATE_EPOCH:-} ]]; then
  [[ $stamp == "$SOURCE_DATE_EPOCH" ]] || { echo "time stamp $stamp, not SOURCE_DATE_EPOCH"; status=1; }
elif git -C "$source_dir" rev-parse >/dev/null 2>&1; then
  # A commit of the history, or one that a rebase has replaced since.
  { git -C "$source_dir" log --format=%ct; git -C "$source_dir" log -g --format=%ct HEAD 2>/dev/null; } |
    grep -x -- "$stamp" >/dev/null || { echo "time stamp $stamp is no commit's time"; status=1; }
fi
exit $status
