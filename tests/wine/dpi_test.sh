#!/usr/bin/env bash
# dpi_test.sh rovend-setup.exe: the window at 96 and at 144 pixels per inch
# (100 % and 150 %). The manifest makes the program DPI aware, so the system
# does not stretch it: it lays itself out at the system's DPI, and at 144 the
# client area, the controls and the status marks grow by half. Photographs
# of both are kept; the marks are shown by a run of the browser task alone.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
exe=$1
out=${TEST_OUT:-$WINE_BUILD/test-out}
rm -rf "$out"; mkdir -p "$out"
desktop='HKCU\Control Panel\Desktop'
restore() {
  "$WINE" reg add "$desktop" /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1 || true
  wine_stop
}
trap restore EXIT
wine_x_server
wine_prefix
rm -rf "$(wine_appdata)/tempEE"  # whatever an earlier test left there

for dpi in 96 144; do
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  "$WINE" reg add "$desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  wine_start_setup "$exe"
  scale() { echo $(( ($1 * dpi + 48) / 96 )); }
  check "$dpi dpi: client area $(scale 354) x $(scale 185) (got $WIDTH x $HEIGHT)" \
    test "$WIDTH" -eq "$(scale 354)" -a "$HEIGHT" -eq "$(( (185 * dpi + 48) / 96 ))"
  wine_wait_unpacked || true
  report=$REPORT
  echo "$report" > "$out/controls-$dpi.txt"
  button=$(grep "^child Button .* Выполнить$" <<<"$report" | head -1 | awk '{print $5, $6, $7, $8}')
  check "$dpi dpi: the button at $(scale 96) $(scale 144), $(( $(scale 225) - $(scale 96) )) wide (got $button)" \
    test "$button" = "$(scale 96) $(scale 144) $(( $(scale 225) - $(scale 96) )) $(( $(scale 169) - $(scale 144) ))"
  # Only the browser box: its mark shows at once.
  xdotool mousemove --window "$SETUP_WINDOW" "$(scale 40)" "$(scale 24)" click 1
  xdotool mousemove --window "$SETUP_WINDOW" "$(scale 40)" "$(scale 56)" click 1
  xdotool mousemove --window "$SETUP_WINDOW" "$(scale 160)" "$(scale 156)" click 1
  xdotool mousemove 0 0
  sleep 2
  margin=20
  import -window root -crop "$((WIDTH + 2 * margin))x$((HEIGHT + 2 * margin))+$((X - margin))+$((Y - margin))" \
    "$out/window-$dpi.png"
  echo "screenshot: $out/window-$dpi.png"
  # The mark fills its cell: green near the cell's right edge too.
  read -r r g b < <(wine_pixel $((X + $(scale 308) + $(scale 20))) $((Y + $(scale 76) + $(scale 12))))
  check "$dpi dpi: the browser mark fills its cell (colour $r $g $b)" test $((g > 100 && g > r + 40)) -eq 1
  check "$dpi dpi: program ended after the close" wine_close_setup
done
check_summary
