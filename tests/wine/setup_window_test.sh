#!/usr/bin/env bash
# setup_window_test.sh rovend-setup.exe: starts the program under Wine, finds
# its window, checks its size and controls, takes a screenshot, closes it
# and checks that the working folder went with it.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
exe=$1
out=${TEST_OUT:-$WINE_BUILD/test-out}
mkdir -p "$out"
trap wine_stop EXIT
wine_x_server
wine_prefix
appdata=$(wine_appdata)
work="$appdata/tempEE"
rm -rf "$work"

wine_start_setup "$exe" || exit 1
window=$SETUP_WINDOW
check "client area is 354 x 185 (got ${WIDTH} x ${HEIGHT})" test "$WIDTH" = 354 -a "$HEIGHT" = 185

# The unpacking screen comes and goes; wait for it to go.
report=""
for _ in $(seq 50); do
  report=$("$WINE" "$WINE_BUILD/bin/wininspect.exe" "Ровенд настройка" | tr -d '\r')
  grep -q "^child RovendWindow 0 " <<<"$report" && break
  sleep 0.2
done
echo "$report" > "$out/controls.txt"
has() { grep -qxF "$1" <<<"$report"; }
check "window record" has "window 354 185 $(sed -n 's/^window 354 185 //p' <<<"$report")"
check "button" has "child Button 1 - 96 144 129 25 Выполнить"
check "certificate box" has "child Button 1 1 32 16 265 17 Установить корневые сертификаты УЦ ОРБИНА"
check "CAPICOM box" has "child Button 1 1 32 48 161 17 Установить CAPICOM"
check "browser box" has "child Button 1 1 32 80 249 17 Настроить браузер Internet Explorer"
check "unpacking screen hidden" has "child RovendWindow 0 - 0 0 353 201 "
style=$(sed -n 's/^window [0-9]* [0-9]* //p' <<<"$report")
# WS_CAPTION and WS_SYSMENU; no sizing border, no minimise or maximise box.
check "single border, system menu only (style $style)" \
  test $((0x$style & 0x00CF0000)) -eq $((0x00C80000))
check "working folder exists while the window is open" test -d "$work"

sleep 0.5
import -window root "$out/setup-window.png" 2>/dev/null || xwd -root -silent > "$out/setup-window.xwd"
echo "screenshot: $out/setup-window.png"

check "program ended after the close" wine_close_setup
check "working folder deleted" test ! -e "$work"
check_summary
