# Sourced by the Wine tests and ./run.sh: a Wine 64-bit prefix inside the
# build tree and a virtual X server when there is no display.
#   WINE_BUILD=<build tree> source wine_env.sh
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
export WINEPREFIX=${WINEPREFIX:-$WINE_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml,winemenubuilder.exe="}
export LANG=${LANG:-C.UTF-8}

wine_x_server() {
  # An X server of our own unless the caller gave one.
  if [[ -z ${DISPLAY:-} || -n ${WINE_OWN_X:-} ]]; then
    local n
    for n in $(seq 91 140); do
      [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      WINE_XVFB_PID=$!
      export DISPLAY=":$n"
      for _ in $(seq 50); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
      done
      kill "$WINE_XVFB_PID" 2>/dev/null
    done
    echo "no virtual X server could start" >&2
    return 1
  fi
}

wine_prefix() {
  # One-time set-up of the prefix; later runs reuse it.
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER" -w 2>/dev/null || true
  fi
}

wine_stop() {
  "$WINESERVER" -k 2>/dev/null || true
  [[ -n ${WINE_XVFB_PID:-} ]] && kill "$WINE_XVFB_PID" 2>/dev/null || true
}

# The Wine user's application-data folder, as a Linux path.
wine_appdata() {
  echo "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
}
