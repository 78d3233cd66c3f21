#!/usr/bin/env bash
# unattended_test.sh rovend-setup.exe: the unattended mode as a deployment
# tool runs it, from a batch file that waits and reads the exit status. The
# stand-ins end with 0, 1 (a failed import), 1603 (a failed installation)
# and 3010 (installed, restart needed); each run's status and log lines are
# checked, and no window may show. "/?" shows the usage in a box.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
exe=$1
out=${TEST_OUT:-$WINE_BUILD/test-out}
rm -rf "$out"; mkdir -p "$out"
domains='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains'
windows=$WINEPREFIX/drive_c/windows
restore() {
  wine_real_installer
  wine_stop
}
trap restore EXIT
wine_x_server
wine_prefix
work="$(wine_appdata)/tempEE"
wine_standin_installer
cp "$(readlink -f "$exe")" "$WINEPREFIX/drive_c/rovend-standins/rovend-setup.exe"
# A batch file waits for a GUI program, and %errorlevel% holds its whole
# status (a Unix exit status keeps only its low byte).
printf '@echo off\r\nC:\\rovend-standins\\rovend-setup.exe %%*\r\necho status=%%errorlevel%%\r\n' \
  > "$WINEPREFIX/drive_c/rovend-standins/run.bat"
export ROVEND_STANDIN_LOG="Z:${out//\//\\}"
# No window may show: one is looked for all through each run.
watch_windows() {
  while sleep 0.2; do xdotool search --name '^Ровенд настройка$' 2>/dev/null | head -1; done > "$out/windows.txt"
}

run() {  # run NAME ARGS...: the setup's exit status; its log in $out/NAME.log
  local name=$1; shift
  rm -rf "$work" "$windows/syswow64/capicom.inf" "$windows/syswow64/capicom.dll"
  "$WINE" cmd /c 'C:\rovend-standins\run.bat' "$@" | tr -d '\r' | sed -n 's/^status=//p' || true
}
log_has() { grep -qF -- "$2" "$out/$1.log"; }

watch_windows & watcher=$!
log="Z:${out//\//\\}"
for case in "ok:0::0" "import:1::11" "install:0:1603:1603" "restart:0:3010:3010"; do
  IFS=: read -r name certmgr msiexec expected <<<"$case"
  export ROVEND_STANDIN_STATUS_certmgr=$certmgr ROVEND_STANDIN_STATUS_msiexec=${msiexec:-0}
  "$WINE" reg delete "$domains" /f >/dev/null 2>&1 || true
  status=$(run "$name" /quiet /log "$log\\$name.log")
  check "$name: exit status $expected (got ${status:-none})" test "$status" = "$expected"
  check "$name: the log is UTF-8" iconv -f UTF-8 -t UTF-8 "$out/$name.log" -o /dev/null
  check "$name: the log names the unpacking" log_has "$name" "unpacked 7 files into C:\\users\\"
  check "$name: the log names each copy" log_has "$name" "copied C:\\users\\"
  check "$name: the log names the installer's status" log_has "$name" "installer ended with status ${msiexec:-0}"
  check "$name: the log names each import's status" log_has "$name" "-s CA -r localMachine: ended with status $certmgr"
  check "$name: the log names the zone values" log_has "$name" 'ZoneMap\Domains\torgi.rovend.ru: https = 2'
  check "$name: the log ends with the status" log_has "$name" "exit status $expected"
  zone=$("$WINE" reg query "$domains\\torgi.rovend.ru" /v https 2>/dev/null | tr -d '\r' || true)
  check "$name: the zone was configured" grep -Eq "^ +https +REG_DWORD +0x2$" <<<"$zone"
  check "$name: the working folder is gone" test ! -e "$work"
done
check "the import's failure is named" log_has import "certificates: failed"
check "the installation's failure is named" log_has install "CAPICOM: failed: the installer ended with status 1603"

unset ROVEND_STANDIN_STATUS_certmgr ROVEND_STANDIN_STATUS_msiexec
rm -f "$out/msiexec.log" "$out/certmgr.log"
status=$(run zone-only /quiet /tasks zone)
check "only the zone: status 0 (got ${status:-none})" test "$status" = 0
check "only the zone: no program started" test ! -e "$out/msiexec.log" -a ! -e "$out/certmgr.log"
status=$(run bad /quiet /tasks browser)
check "a bad command line with /quiet: status 1639 and no box (got ${status:-none})" test "$status" = 1639
kill "$watcher" 2>/dev/null || true
check "no window showed in any unattended run" test ! -s "$out/windows.txt"

# The usage box, closed with Enter.
(cd "$WINEPREFIX/drive_c" && "$WINE" 'C:\rovend-standins\rovend-setup.exe' '/?') &
box_pid=$!
box=""
for _ in $(seq 100); do
  box=$(xdotool search --name '^Настройка$' 2>/dev/null | head -1 || true)
  [[ -n $box ]] && break
  sleep 0.2
done
check "/? shows a box captioned Настройка" test -n "$box"
if [[ -n $box ]]; then
  sleep 0.5
  import -window root "$out/usage.png"
  echo "screenshot: $out/usage.png"
  xdotool windowfocus "$box" key Return 2>/dev/null || true
fi
ended=false
for _ in $(seq 50); do kill -0 "$box_pid" 2>/dev/null || { ended=true; break; }; sleep 0.1; done
check "the program ends once the box is closed" $ended
check_summary
