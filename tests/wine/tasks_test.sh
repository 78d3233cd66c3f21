#!/usr/bin/env bash
# tasks_test.sh rovend-setup.exe: presses "Выполнить" with all three boxes
# ticked and checks what the tasks left behind: the certificate commands and
# the installer launch as the programs received them (stand-ins that record
# their command lines), the copies in "syswow64", the zone values and host
# keys in the Wine registry, and the marks on screen.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
exe=$1
out=${TEST_OUT:-$WINE_BUILD/test-out}
standins=$WINE_BUILD/bin/standins
rm -rf "$out"; mkdir -p "$out/log"
wine_x_server
wine_prefix
appdata=$(wine_appdata)
windows=$WINEPREFIX/drive_c/windows
zones='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\2'
domains='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains'
hosts=(torgi.rovend.ru edo.rovend.ru lk.orbina-ca.ru)

# The installer stand-in takes the place of Windows Installer for .msi files
# while the test runs.
msi_command='HKCR\Msi.Package\shell\Open\command'
saved_msi=$("$WINE" reg query "$msi_command" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p' || true)
restore() {
  [[ -n $saved_msi ]] && "$WINE" reg add "$msi_command" /ve /d "$saved_msi" /f >/dev/null 2>&1
  wine_stop
}
trap restore EXIT
mkdir -p "$WINEPREFIX/drive_c/rovend-standins"
cp "$standins/msiexec.exe" "$WINEPREFIX/drive_c/rovend-standins/msiexec.exe"
"$WINE" reg add "$msi_command" /ve /d '"C:\rovend-standins\msiexec.exe" /i "%1" %*' /f >/dev/null
rm -f "$windows/syswow64/capicom.inf" "$windows/syswow64/capicom.dll"
"$WINE" reg delete "$zones" /f >/dev/null 2>&1 || true
"$WINE" reg delete "$domains" /f >/dev/null 2>&1 || true

export ROVEND_STANDIN_LOG="Z:${out//\//\\}\\log"
export ROVEND_STANDIN_SLEEP_msiexec=3000
wine_start_setup "$exe"
for _ in $(seq 50); do [[ -d $appdata/tempEE ]] && break; sleep 0.1; done
# What the payload will bring; until then the test puts it there.
work=$appdata/tempEE
cp "$standins/certmgr.exe" "$work/certmgr.exe"
echo "[Version]" > "$work/capicom.inf"
echo "library" > "$work/capicom.dll"
echo "package" > "$work/capicom2.msi"
echo "root store" > "$work/rootsert.sst"
echo "intermediate store" > "$work/casert.sst"
printf '%s\r\n%s\r\n%s' "${hosts[@]}" > "$work/url.txt"
sleep 1

xdotool mousemove --window "$SETUP_WINDOW" 160 156 click 1
for _ in $(seq 150); do
  [[ -f $out/log/msiexec.log && $(wc -l < "$out/log/certmgr.log" 2>/dev/null || echo 0) -ge 2 ]] && break
  sleep 0.1
done
import -window root "$out/installer-running.png" 2>/dev/null || true

win_appdata=$("$WINE" cmd /c echo %APPDATA% | tr -d '\r')
win_work="$win_appdata\\tempEE\\"
certmgr_expected=$(printf '"%scertmgr.exe" /add /all /c "%srootsert.sst" -s Root -r localMachine\n"%scertmgr.exe" /add /all /c "%scasert.sst" -s CA -r localMachine' \
  "$win_work" "$win_work" "$win_work" "$win_work")
check "certificate commands, byte for byte" diff <(printf '%s\n' "$certmgr_expected") "$out/log/certmgr.log"
msi_line=$(head -1 "$out/log/msiexec.log" 2>/dev/null || true)
echo "installer command line: $msi_line"
check "installer got the package" grep -qiF "${win_work}capicom2.msi" <<<"$msi_line"
check "installer got the parameters" grep -qiF '/qb-! INSTALLDIR="C:\windows\system32"' <<<"$msi_line"
check "capicom.inf copied" cmp -s "$work/capicom.inf" "$windows/syswow64/capicom.inf"
check "capicom.dll copied" cmp -s "$work/capicom.dll" "$windows/syswow64/capicom.dll"

zone_values=$("$WINE" reg query "$zones" | tr -d '\r')
echo "$zone_values" > "$out/zones.txt"
for v in 1001 1004 1200 1201 1208 1209 120A 1405 2000 2201; do
  check "zone value $v = 0" grep -Eq "^ +$v +REG_DWORD +0x0$" <<<"$zone_values"
done
check "zone value 120B = 3" grep -Eq "^ +120B +REG_DWORD +0x3$" <<<"$zone_values"
for host in "${hosts[@]}"; do
  host_values=$("$WINE" reg query "$domains\\$host" 2>/dev/null | tr -d '\r' || true)
  check "$host: http = 2" grep -Eq "^ +http +REG_DWORD +0x2$" <<<"$host_values"
  check "$host: https = 2" grep -Eq "^ +https +REG_DWORD +0x2$" <<<"$host_values"
done

# Once the installer has ended, the watch shows the CAPICOM mark; all three
# marks are then green on screen.
sleep 4
import -window root "$out/after-run.png"
echo "screenshot: $out/after-run.png"
green() {  # green X Y: the badge's colour at a point of the client area
  read -r r g b < <(wine_pixel $((X + $1)) $((Y + $2)))
  (( g > 100 && g > r + 40 && g > b + 40 ))
}
check "certificate mark shown" green 320 19
check "CAPICOM mark shown" green 320 50
check "browser mark shown" green 320 82

check "program ended after the close" wine_close_setup
check "working folder deleted" test ! -e "$work"
check_summary
