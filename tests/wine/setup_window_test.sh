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
wine_wait_unpacked || true
report=$REPORT
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

# The pointer starts in the middle of the screen, where a hint would cover
# the window.
xdotool mousemove 0 0
sleep 0.5
import -window root "$out/setup-window.png" 2>/dev/null || xwd -root -silent > "$out/setup-window.xwd"
echo "screenshot: $out/setup-window.png"

# The keyboard, as a user without a mouse: "Выполнить" has the focus at
# start, so Tab reaches the first box; with the first two boxes unticked and
# no host list, Enter on the button ends in the host-list error box, centred
# on the screen, and once it is closed the focus is back on the button.
inspect() { "$WINE" "$WINE_BUILD/bin/wininspect.exe" "$@" | tr -d '\r'; }
check "the button has the focus at start" has "focus Button Выполнить"
xdotool windowfocus "$window" 2>/dev/null || true
sleep 0.3
xdotool key Tab space Tab space shift+Tab shift+Tab
sleep 0.5
report=$(inspect "Ровенд настройка")
check "Tab and Space untick the certificate box" has "child Button 1 0 32 16 265 17 Установить корневые сертификаты УЦ ОРБИНА"
check "Tab and Space untick the CAPICOM box" has "child Button 1 0 32 48 161 17 Установить CAPICOM"
check "Shift+Tab goes back to the button" has "focus Button Выполнить"
rm -f "$work/url.txt"
xdotool key Return
error_box=""
for _ in $(seq 50); do
  # Laid out and on view, not half made.
  error_box=$(inspect Error 10 '#32770' || true)
  grep -qx "child Button 1 - .* OK" <<<"$error_box" && break
  sleep 0.2
done
check "Enter presses the button: the host-list error box shows" grep -q '^frame ' <<<"$error_box"
read -r _ box_x box_y box_w box_h < <(grep '^frame ' <<<"$error_box" || echo "frame 0 0 0 0")
read -r screen_w screen_h < <(xdpyinfo | sed -n 's/^ *dimensions: *\([0-9]*\)x\([0-9]*\) .*/\1 \2/p')
centred() { local d=$(($1 - $2)); ((d >= -1 && d <= 1)); }
check "the error box is centred on the screen across" centred $((2 * box_x + box_w)) "$screen_w"
check "the error box is centred on the screen down" centred $((2 * box_y + box_h)) "$screen_h"
# Without a window manager the X focus stays where it was: it is moved as a
# window manager would move it, to the box and back to the window.
box_window=$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null | head -1 || true)
[[ -n $box_window ]] && xdotool windowfocus "$box_window" 2>/dev/null
sleep 0.3
xdotool key Return
closed() {
  for _ in $(seq 25); do
    inspect Error 1 '#32770' >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}
check "the error box closed with Enter" closed
xdotool windowfocus "$window" 2>/dev/null || true
sleep 0.5
report=$(inspect "Ровенд настройка")
check "the focus is back on the button after the box" has "focus Button Выполнить"

check "program ended after the close" wine_close_setup
check "working folder deleted" test ! -e "$work"
check_summary
