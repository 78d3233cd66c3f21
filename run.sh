#!/usr/bin/env bash
# Builds the setup program and starts it under Wine. These machines cannot
# run 32-bit code, so the x86_64 build of the same sources runs; the 32-bit
# product is built beside it in build/win32/bin/.
# Without a display: a virtual X server, a screenshot, then the window closes.
set -euo pipefail
source "$(dirname "$0")/scripts/common.sh"
ensure_packages
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
configure_windows
build_tree win32 --target rovend-setup
build_tree win64 --target rovend-setup
WINE_BUILD=$BUILD/win64
source "$ROOT/tests/wine/wine_env.sh"
exe=$BUILD/win64/bin/rovend-setup.exe

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  wine_prefix
  exec "$WINE" "$exe"
fi

trap wine_stop EXIT
wine_x_server
wine_prefix
wine_start_setup "$exe"
# The virtual pointer starts in the middle of the screen, over a check box
# whose hint would cover the window.
xdotool mousemove 0 0
sleep 1.5
shot=$BUILD/run-screenshot.png
margin=40
import -window root -crop "$((WIDTH + 2 * margin))x$((HEIGHT + 2 * margin))+$((X - margin))+$((Y - margin))" "$shot"
wine_close_setup || echo "the program did not end after its window was closed" >&2
echo "The window ran under a virtual X server and is closed now."
echo "Screenshot: $shot"
