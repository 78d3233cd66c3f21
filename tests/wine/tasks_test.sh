#!/usr/bin/env bash
# tasks_test.sh rovend-setup.exe: the whole road under Wine. Start-up unpacks
# the payload into the working folder; "Выполнить" with all three boxes
# ticked runs the certificate tool of the payload (a stand-in that records
# its command lines), copies the CAPICOM files into "syswow64", has Wine's
# Windows Installer install the payload's test package, and fills the Trusted
# sites zone from the payload's host list; the marks then show, and closing
# removes the working folder. A second run has the certificate tool end with
# status 1 and a stand-in installer with 1603 (a failed installation): then
# only the browser's mark may show. A third run has certmgr.exe swapped for
# another program after start-up, as a program without elevation could: it
# must not run.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
exe=$1
out=${TEST_OUT:-$WINE_BUILD/test-out}
payload=$WINE_BUILD/resources/payload
rm -rf "$out"; mkdir -p "$out/log"
msi_command='HKCR\Msi.Package\shell\Open\command'
# Windows registers .msi packages as msiexec /i "%1" %*; Wine leaves out the
# %*, which would drop the installer's parameters.
use_msiexec() {
  "$WINE" reg add "$msi_command" /ve /d 'C:\windows\system32\msiexec.exe /i "%1" %*' /f >/dev/null
}
trap 'use_msiexec; wine_stop' EXIT
wine_x_server
wine_prefix
appdata=$(wine_appdata)
work=$appdata/tempEE
windows=$WINEPREFIX/drive_c/windows
zones='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\2'
domains='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains'
package_code='{5D2B8E61-0C3A-4F7A-9B14-7E6C2A9D3F08}'
# Wine's msiexec reads the quoted INSTALLDIR="C:\windows\system32" as the
# relative \C:\windows\system32\, which lands below the current drive's root.
markers=("$windows/system32/rovend-capicom-test.txt" "$WINEPREFIX/drive_c/C:/windows/system32/rovend-capicom-test.txt")
installed() { [[ -f ${markers[0]} || -f ${markers[1]} ]]; }

use_msiexec

# A clean start: nothing of an earlier run may count.
"$WINE" msiexec /x "$package_code" /qn >/dev/null 2>&1 || true
rm -rf "$work" "${markers[@]}" "$windows/syswow64/capicom.inf" "$windows/syswow64/capicom.dll"
"$WINE" reg delete "$zones" /f >/dev/null 2>&1 || true
"$WINE" reg delete "$domains" /f >/dev/null 2>&1 || true

export ROVEND_STANDIN_LOG="Z:${out//\//\\}\\log"
wine_start_setup "$exe"
for _ in $(seq 100); do
  "$WINE" "$WINE_BUILD/bin/wininspect.exe" "Ровенд настройка" | tr -d '\r' | grep -q "^child RovendWindow 0 " && break
  sleep 0.1
done
check "the payload archive is in the working folder" cmp -s "$payload/tempEE.zip" "$work/tempEE.zip"
for name in capicom.dll capicom.inf capicom2.msi casert.sst certmgr.exe rootsert.sst url.txt; do
  check "$name unpacked whole" cmp -s <(unzip -p "$payload/tempEE.zip" "$name") "$work/$name"
done
check "nothing else unpacked" test "$(ls "$work" | wc -l)" -eq 8

xdotool mousemove --window "$SETUP_WINDOW" 160 156 click 1
for _ in $(seq 150); do
  installed && [[ $(wc -l 2>/dev/null < "$out/log/certmgr.log" || echo 0) -ge 2 ]] && break
  sleep 0.1
done

win_appdata=$("$WINE" cmd /c echo %APPDATA% | tr -d '\r')
win_work="$win_appdata\\tempEE\\"
certmgr_expected=$(printf '"%scertmgr.exe" /add /all /c "%srootsert.sst" -s Root -r localMachine\n"%scertmgr.exe" /add /all /c "%scasert.sst" -s CA -r localMachine' \
  "$win_work" "$win_work" "$win_work" "$win_work")
# The second run starts before the first has ended, so the two stand-ins
# write their lines in whichever order they get there; the order of the
# starts is the native tests' to check.
check "certificate commands, byte for byte" diff <(printf '%s\n' "$certmgr_expected" | sort) <(sort "$out/log/certmgr.log")
check "the installer installed the test package" installed
check "capicom.inf copied" cmp -s "$work/capicom.inf" "$windows/syswow64/capicom.inf"
check "capicom.dll copied" cmp -s "$work/capicom.dll" "$windows/syswow64/capicom.dll"

zone_values=$("$WINE" reg query "$zones" | tr -d '\r')
echo "$zone_values" > "$out/zones.txt"
for v in 1001 1004 1200 1201 1208 1209 120A 1405 2000 2201; do
  check "zone value $v = 0" grep -Eq "^ +$v +REG_DWORD +0x0$" <<<"$zone_values"
done
check "zone value 120B = 3" grep -Eq "^ +120B +REG_DWORD +0x3$" <<<"$zone_values"
mapfile -t hosts < <(tr -d '\r' < "$work/url.txt"; echo)
for host in "${hosts[@]}"; do
  [[ -z $host ]] && continue
  host_values=$("$WINE" reg query "$domains\\$host" 2>/dev/null | tr -d '\r' || true)
  check "$host: http = 2" grep -Eq "^ +http +REG_DWORD +0x2$" <<<"$host_values"
  check "$host: https = 2" grep -Eq "^ +https +REG_DWORD +0x2$" <<<"$host_values"
done

# Once no installer runs any more, the watch shows the CAPICOM mark: all
# three marks are green on screen then.
for _ in $(seq 50); do pgrep -fi 'msiexec.exe' >/dev/null || break; sleep 0.2; done
sleep 1.5
import -window root "$out/after-run.png"
echo "screenshot: $out/after-run.png"
green() {  # green X Y: the badge's colour at a point of the client area
  local r g b
  read -r r g b < <(wine_pixel $((X + $1)) $((Y + $2)))
  (( g > 100 && g > r + 40 && g > b + 40 ))
}
not_green() { ! green "$@"; }
check_within 10 "certificate mark shown" green 320 19
check_within 10 "CAPICOM mark shown" green 320 50
check_within 10 "browser mark shown" green 320 82

check "program ended after the close" wine_close_setup
check "working folder deleted" test ! -e "$work"
"$WINE" msiexec /x "$package_code" /qn >/dev/null 2>&1 || true

# --- a failed import and a failed installation -------------------------------
mkdir -p "$WINEPREFIX/drive_c/rovend-standins" "$out/log-failed"
cp "$WINE_BUILD/bin/standins/msiexec.exe" "$WINEPREFIX/drive_c/rovend-standins/msiexec.exe"
"$WINE" reg add "$msi_command" /ve /d '"C:\rovend-standins\msiexec.exe" /i "%1" %*' /f >/dev/null
export ROVEND_STANDIN_LOG="Z:${out//\//\\}\\log-failed"
export ROVEND_STANDIN_STATUS_certmgr=1 ROVEND_STANDIN_STATUS_msiexec=1603
wine_start_setup "$exe"
for _ in $(seq 100); do [[ -f $work/url.txt ]] && break; sleep 0.1; done
sleep 1
xdotool mousemove --window "$SETUP_WINDOW" 160 156 click 1
for _ in $(seq 150); do
  [[ -f $out/log-failed/msiexec.log && $(wc -l 2>/dev/null < "$out/log-failed/certmgr.log" || echo 0) -ge 2 ]] && break
  sleep 0.1
done
check "both certificate commands ran" test "$(wc -l < "$out/log-failed/certmgr.log")" -eq 2
check "the stand-in installer ran" test -f "$out/log-failed/msiexec.log"
# Past the task's wait of 1.5 s and a tick of the watch after the installer's end.
for _ in $(seq 50); do pgrep -fi 'msiexec.exe' >/dev/null || break; sleep 0.2; done
sleep 2
import -window root "$out/after-failed-run.png"
echo "screenshot: $out/after-failed-run.png"
check "certificate mark hidden after a failed import" not_green 320 19
check "CAPICOM mark hidden after a failed installation" not_green 320 50
check_within 10 "browser mark shown" green 320 82
check "program ended after the close" wine_close_setup

# --- certmgr.exe swapped after start-up ---------------------------------------
unset ROVEND_STANDIN_STATUS_certmgr ROVEND_STANDIN_STATUS_msiexec
mkdir -p "$out/log-swapped"
export ROVEND_STANDIN_LOG="Z:${out//\//\\}\\log-swapped"
wine_start_setup "$exe"
for _ in $(seq 100); do [[ -f $work/url.txt ]] && break; sleep 0.1; done
sleep 1
# Another program under its name: the msiexec stand-in records to a log named
# after its file, so it would write certmgr.log if it were run.
cp "$WINE_BUILD/bin/standins/msiexec.exe" "$work/certmgr.exe.new"
mv -f "$work/certmgr.exe.new" "$work/certmgr.exe"
xdotool mousemove --window "$SETUP_WINDOW" 160 156 click 1
for _ in $(seq 100); do [[ -f $out/log-swapped/msiexec.log ]] && break; sleep 0.1; done
for _ in $(seq 50); do pgrep -fi 'msiexec.exe' >/dev/null || break; sleep 0.2; done
sleep 2
import -window root "$out/after-swapped-run.png"
echo "screenshot: $out/after-swapped-run.png"
check "the swapped certmgr.exe did not run" test ! -e "$out/log-swapped/certmgr.log"
check "certificate mark hidden" not_green 320 19
check_within 10 "CAPICOM mark shown" green 320 50
check_within 10 "browser mark shown" green 320 82
check "program ended after the close" wine_close_setup
check_summary
