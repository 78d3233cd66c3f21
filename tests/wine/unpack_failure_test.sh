#!/usr/bin/env bash
# unpack_failure_test.sh rovend-setup.exe: when the payload cannot be written
# (a folder stands where "tempEE.zip" must go), start-up ends with the
# default error box over the unpacking screen, which stays on view; closing
# still removes the working folder.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
exe=$1
out=${TEST_OUT:-$WINE_BUILD/test-out}
rm -rf "$out"; mkdir -p "$out"
trap wine_stop EXIT
wine_x_server
wine_prefix
work=$(wine_appdata)/tempEE
rm -rf "$work"
mkdir -p "$work/tempEE.zip"

wine_start_setup "$exe"
# The box is found as soon as it exists, maybe before the buttons it does not
# use are hidden: look again until it is on view.
for _ in $(seq 25); do
  box=$("$WINE" "$WINE_BUILD/bin/wininspect.exe" "Настройка" 20 "#32770" | tr -d '\r' || true)
  grep -q '^child Button 1 ' <<<"$box" && break
  sleep 0.2
done
echo "$box" > "$out/error-box.txt"
win_work="$("$WINE" cmd /c echo %APPDATA% | tr -d '\r' || true)\\tempEE\\"
check "the error box tells which file" grep -qF "Cannot create file \"${win_work}\\tempEE.zip\"." <<<"$box"
check "the error box has one button" test "$(grep -c '^child Button 1 ' <<<"$box")" -eq 1
window=$("$WINE" "$WINE_BUILD/bin/wininspect.exe" "Ровенд настройка" | tr -d '\r')
check "the unpacking screen stays on view" grep -q "^child RovendWindow 1 - 0 0 353 201 " <<<"$window"
# Move the box aside, so that the photograph shows the unpacking screen.
for w in $(xdotool search --name '^Настройка$' 2>/dev/null); do
  eval "$(xdotool getwindowgeometry --shell "$w" | sed 's/^/BOX_/')"
  (( BOX_WIDTH > 50 )) && xdotool windowmove "$w" 0 0
done
sleep 0.5
import -window root "$out/unpacking-screen.png"
# "Распаковка..." in grey on the panel: some pixel of the label's box is dark.
label_dark() {
  local x y r g b
  for y in $(seq 100 2 112); do
    for x in $(seq 124 4 228); do
      read -r r g b < <(wine_pixel $((X + x)) $((Y + y)))
      (( r < 160 && g < 160 && b < 160 )) && return 0
    done
  done
  return 1
}
check "the unpacking notice is on screen" label_dark
echo "screenshot: $out/unpacking-screen.png"

for w in $(xdotool search --name '^Настройка$' 2>/dev/null); do xdotool windowfocus "$w" 2>/dev/null || true; done
xdotool key Return
sleep 0.5
check "program ended after the close" wine_close_setup
check "working folder deleted" test ! -e "$work"
check_summary
