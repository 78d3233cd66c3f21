#!/usr/bin/env bash
# profile_paths_test.sh rovend-setup.exe: a user whose application-data
# folder has letters outside the ANSI code page, on a Russian (1251) and on
# an English (1252) system. Unpacking, the three tasks and the close work in
# that very folder, and nothing is written in a look-alike folder or in the
# prefix user's own one. The Russian run also presses "Выполнить" three
# times in a row (one run only); the English one finds an older capicom.dll
# in syswow64 (no CAPICOM mark).
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
exe=$1
out=${TEST_OUT:-$WINE_BUILD/test-out}
rm -rf "$out"; mkdir -p "$out"
user_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
zones='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\2'
domains='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains'
profile='Zoë Ş Пётр'
win_appdata="C:\\users\\$profile\\AppData\\Roaming"
appdata="$WINEPREFIX/drive_c/users/$profile/AppData/Roaming"
work="$appdata/tempEE"
windows=$WINEPREFIX/drive_c/windows
restore() {
  "$WINE" reg add "$user_folders" /v AppData /t REG_EXPAND_SZ /d '%USERPROFILE%\AppData\Roaming' /f >/dev/null 2>&1 || true
  wine_real_installer
  wine_stop
}
trap restore EXIT
wine_x_server
wine_prefix
own_work="$(wine_appdata)/tempEE"

green() {  # green X Y: the badge's colour at a point of the client area
  local r g b
  read -r r g b < <(wine_pixel $((X + $1)) $((Y + $2)))
  (( g > 100 && g > r + 40 && g > b + 40 ))
}
not_green() { ! green "$@"; }
lines() { [[ -f $1 ]] && wc -l < "$1" || echo 0; }
# Every tempEE in the prefix but the one of the profile.
others() { find "$WINEPREFIX/drive_c" -name tempEE -not -path "$work" 2>/dev/null; }

# The two systems' locales, made once into the build tree: Wine takes its
# code pages from them, and the X side must know them too, or window names
# in Cyrillic cannot be found.
export LOCPATH=$WINE_BUILD/locales
mkdir -p "$LOCPATH"
for lang in ru_RU en_US; do
  [[ -d $LOCPATH/$lang.UTF-8 ]] || localedef -i "$lang" -f UTF-8 "$LOCPATH/$lang.UTF-8"
done

for run in ru_RU.UTF-8:1251 en_US.UTF-8:1252; do
  lang=${run%%:*} codepage=${run##*:}
  echo "== $lang (ANSI code page $codepage)"
  # A new locale needs a new Wine server; the X server stays.
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  export LANG=$lang LC_ALL=$lang
  acp=$("$WINE" reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null | tr -d '\r' |
        sed -n 's/.*REG_SZ *//p')
  check "the system's ANSI code page is $codepage (got ${acp:-none})" test "$acp" = "$codepage"
  "$WINE" reg add "$user_folders" /v AppData /t REG_EXPAND_SZ /d "$win_appdata" /f >/dev/null
  # A stand-in installer that records its command line and ends at once.
  wine_standin_installer
  "$WINE" reg delete "$domains" /f >/dev/null 2>&1 || true
  rm -rf "$work" "$own_work" "$windows/syswow64/capicom.inf" "$windows/syswow64/capicom.dll"
  mkdir -p "$appdata" "$out/$codepage"
  stale=""
  if [[ $codepage == 1252 ]]; then
    stale="an older capicom.dll"
    echo "older library" > "$windows/syswow64/capicom.dll"
  fi
  export ROVEND_STANDIN_LOG="Z:${out//\//\\}\\$codepage"

  wine_start_setup "$exe"
  for _ in $(seq 100); do [[ -f $work/url.txt ]] && break; sleep 0.1; done
  sleep 1
  check "$codepage: the payload is unpacked into the profile's folder" test -f "$work/url.txt" -a -f "$work/certmgr.exe"
  if [[ $codepage == 1251 ]]; then
    xdotool mousemove --window "$SETUP_WINDOW" 160 156 click --repeat 3 --delay 150 1
  else
    xdotool mousemove --window "$SETUP_WINDOW" 160 156 click 1
  fi
  for _ in $(seq 100); do
    (( $(lines "$out/$codepage/certmgr.log") >= 2 )) && [[ -f $out/$codepage/msiexec.log ]] && break
    sleep 0.1
  done
  # Past the task's wait, the certificate runs and a tick of the watch.
  sleep 3
  import -window root "$out/$codepage/after-run.png"
  echo "screenshot: $out/$codepage/after-run.png"
  check "$codepage: one run: two certificate commands" test "$(lines "$out/$codepage/certmgr.log")" -eq 2
  check "$codepage: one run: one installer" test "$(lines "$out/$codepage/msiexec.log")" -eq 1
  check "$codepage: the certificate tool got the profile's paths" \
    grep -qF "\"$win_appdata\\tempEE\\rootsert.sst\" -s Root -r localMachine" "$out/$codepage/certmgr.log"
  check "$codepage: the installer got the profile's package" grep -qF "$win_appdata\\tempEE\\capicom2.msi" "$out/$codepage/msiexec.log"
  check "$codepage: capicom.inf copied" cmp -s "$work/capicom.inf" "$windows/syswow64/capicom.inf"
  host=$(head -1 "$work/url.txt" | tr -d '\r')
  check "$codepage: the zone holds the first host" \
    grep -Eq "^ +https +REG_DWORD +0x2$" <<<"$("$WINE" reg query "$domains\\$host" 2>/dev/null | tr -d '\r')"
  check "$codepage: zone policies written" \
    grep -Eq "^ +120B +REG_DWORD +0x3$" <<<"$("$WINE" reg query "$zones" 2>/dev/null | tr -d '\r')"
  check_within 10 "$codepage: certificate mark shown" green 320 19
  if [[ -n $stale ]]; then
    check "$codepage: $stale stays and the CAPICOM mark stays hidden" not_green 320 50
    check "$codepage: $stale is not replaced" grep -q "older library" "$windows/syswow64/capicom.dll"
  else
    check "$codepage: capicom.dll copied" cmp -s "$work/capicom.dll" "$windows/syswow64/capicom.dll"
    check_within 10 "$codepage: CAPICOM mark shown" green 320 50
  fi
  check_within 10 "$codepage: browser mark shown" green 320 82
  check "$codepage: program ended after the close" wine_close_setup
  check "$codepage: working folder deleted" test ! -e "$work"
  check "$codepage: no other working folder anywhere" test -z "$(others)"
done
check_summary
