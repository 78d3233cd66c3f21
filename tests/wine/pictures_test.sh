#!/usr/bin/env bash
# pictures_test.sh rovend-setup.exe: the window's two GIF pictures on screen.
#
# The banner: the unpacking screen is only up while the payload unpacks, too
# briefly to photograph, but it stays when unpacking fails. A folder where
# the payload archive is to be written makes that happen, as a user could
# meet it; after the error box is answered the screen is photographed and
# the banner's box compared pixel for pixel with the picture laid over the
# screen's colour.
#
# The spinner: with only the CAPICOM box ticked, "Выполнить" launches a
# stand-in installer named msiexec.exe that runs for a while. Two
# photographs a few hundred milliseconds apart must differ in the spinner's
# frame area and nowhere else.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
exe=$1
out=${TEST_OUT:-$WINE_BUILD/test-out}
pictures=${ROVEND_SOURCE_DIR:-$(dirname "$0")/../..}/resources/pictures
standins=$WINE_BUILD/bin/standins
rm -rf "$out"; mkdir -p "$out/log"
wine_x_server
wine_prefix
appdata=$(wine_appdata)
work=$appdata/tempEE

msi_command='HKCR\Msi.Package\shell\Open\command'
saved_msi=$("$WINE" reg query "$msi_command" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p' || true)
restore() {
  [[ -n $saved_msi ]] && "$WINE" reg add "$msi_command" /ve /d "$saved_msi" /f >/dev/null 2>&1
  wine_stop
  rm -rf "$work"
}
trap restore EXIT

# shot NAME X Y W H: a photograph of part of the client area.
shot() {
  import -window root -crop "$4x$5+$((X + $2))+$((Y + $3))" +repage "$out/$1.png"
}
# differing A B: how many pixels of two photographs differ.
differing() {
  compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 | cut -d' ' -f1 || true
}

# --- the banner on the unpacking screen -------------------------------------
rm -rf "$work"
mkdir -p "$work/tempEE.zip"
wine_start_setup "$exe"
# The error box carries the application's title, as does the hidden
# application window, which has no size.
error_box() {
  local w
  for w in $(xdotool search --name '^Настройка$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w" | sed 's/^/BOX_/')"
    (( BOX_WIDTH > 50 )) && { echo "$w"; return 0; }
  done
  return 1
}
box=""
for _ in $(seq 100); do
  box=$(error_box || true)
  [[ -n $box ]] && break
  sleep 0.2
done
check "unpacking failed with an error box" test -n "$box"
xdotool windowfocus "$box" 2>/dev/null || true
sleep 0.3
xdotool key Return
for _ in $(seq 50); do error_box >/dev/null || break; sleep 0.1; done
sleep 0.5
shot unpacking-screen 0 0 354 185
read -r r g b < <(wine_pixel $((X + 4)) $((Y + 4)))
echo "unpacking screen colour: $r $g $b"
# The label below it reaches into the box's last row: compare the rows above.
convert "$pictures/banner.gif" -background "rgb($r,$g,$b)" -flatten -crop 289x64+0+0 +repage "$out/banner-expected.png"
shot banner-shown 24 32 289 64
banner_diff=$(differing banner-shown banner-expected)
echo "banner pixels that differ: $banner_diff"
check "the banner shows unscaled, cut to its box, through its mask" test "$banner_diff" = 0
check "program ended after the close" wine_close_setup
rm -rf "$work"

# --- the spinner while an installer runs -------------------------------------
mkdir -p "$WINEPREFIX/drive_c/rovend-standins"
cp "$standins/msiexec.exe" "$WINEPREFIX/drive_c/rovend-standins/msiexec.exe"
"$WINE" reg add "$msi_command" /ve /d '"C:\rovend-standins\msiexec.exe" /i "%1" %*' /f >/dev/null
export ROVEND_STANDIN_LOG="Z:${out//\//\\}\\log"
export ROVEND_STANDIN_SLEEP_msiexec=12000
wine_start_setup "$exe"
for _ in $(seq 100); do [[ -f $work/url.txt ]] && break; sleep 0.1; done
[[ -f $work/capicom2.msi ]] || echo "package" > "$work/capicom2.msi"
sleep 1
xdotool mousemove --window "$SETUP_WINDOW" 40 24 click 1   # certificates off
xdotool mousemove --window "$SETUP_WINDOW" 40 88 click 1   # browser off
sleep 0.3
shot before-run 0 0 354 185
xdotool mousemove --window "$SETUP_WINDOW" 160 156 click 1
for _ in $(seq 100); do [[ -f $out/log/msiexec.log ]] && break; sleep 0.1; done
check "the installer stand-in runs" test -f "$out/log/msiexec.log"
# Past the task's wait of 1.5 s and at least one tick of the watch.
sleep 3
shot spinner-a 0 0 354 185
# The frame area: 27 x 27 at 3, 2 of Image4 (304, 40).
area="rectangle 307,42 333,68"
convert "$out/spinner-a.png" -fill black -draw "$area" "$out/spinner-a-outside.png"
convert "$out/spinner-a.png" -crop 27x27+307+42 +repage "$out/spinner-a-frame.png"
# A loaded machine may hold the animation's thread past one frame's time:
# a few later looks tell a slow spinner from one that stands still.
for _ in 1 2 3 4 5; do
  sleep 0.3
  shot spinner-b 0 0 354 185
  convert "$out/spinner-b.png" -crop 27x27+307+42 +repage "$out/spinner-b-frame.png"
  moved=$(differing spinner-a-frame spinner-b-frame)
  (( ${moved:-0} > 0 )) && break
done
convert "$out/spinner-b.png" -fill black -draw "$area" "$out/spinner-b-outside.png"
convert "$out/before-run.png" -crop 27x27+307+42 +repage "$out/cell-frame.png"
outside=$(differing spinner-a-outside spinner-b-outside)
inside=$(differing spinner-a-frame spinner-b-frame)
shown=$(differing spinner-a-frame cell-frame)
echo "pixels that differ: $outside outside the spinner, $inside inside; $shown from the empty cell"
check "the spinner is on view" test "$shown" -gt 100
check "the spinner moves" test "$inside" -gt 0
check "nothing else changes" test "$outside" = 0
check "program ended after the close" wine_close_setup
check_summary
