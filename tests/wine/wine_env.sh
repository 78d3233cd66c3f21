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
  wine_fonts
}

# Wine's own Tahoma (Debian package fonts-wine) in the prefix's font folder,
# also in a prefix made before: without it the window is drawn with a wider
# substitute and its captions are cut, as Windows never shows them.
wine_fonts() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts font
  for font in tahoma.ttf tahomabd.ttf; do
    [[ -f $fonts/$font ]] && continue
    if [[ ! -f /usr/share/wine/fonts/$font ]]; then
      echo "no /usr/share/wine/fonts/$font: is fonts-wine installed?" >&2
      continue
    fi
    mkdir -p "$fonts"
    cp "/usr/share/wine/fonts/$font" "$fonts/"
  done
}

wine_stop() {
  "$WINESERVER" -k 2>/dev/null || true
  [[ -n ${WINE_XVFB_PID:-} ]] && kill "$WINE_XVFB_PID" 2>/dev/null || true
}

# The Wine user's application-data folder, as a Linux path.
wine_appdata() {
  echo "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
}

# wine_start_setup EXE: starts the setup program and waits for its window;
# sets SETUP_PID, SETUP_WINDOW and the window's X, Y, WIDTH, HEIGHT.
wine_start_setup() {
  # Started from C:\ as from Explorer, not from a Linux folder on Z:.
  local exe
  exe=$(readlink -f "$1")
  (cd "$WINEPREFIX/drive_c" && exec "$WINE" "$exe") &
  SETUP_PID=$!
  SETUP_WINDOW=""
  local _
  for _ in $(seq 150); do
    SETUP_WINDOW=$(xdotool search --name '^Ровенд настройка$' 2>/dev/null | head -1 || true)
    [[ -n $SETUP_WINDOW ]] && break
    sleep 0.2
  done
  if [[ -z $SETUP_WINDOW ]]; then
    echo "no window captioned Ровенд настройка; windows on $DISPLAY:" >&2
    xdotool search --name '.' getwindowname %@ 2>/dev/null | sed 's/^/  /' >&2 || true
    return 1
  fi
  eval "$(xdotool getwindowgeometry --shell "$SETUP_WINDOW")"
}

# wine_standin_installer: Windows Installer packages open with the msiexec
# stand-in, copied to C:\rovend-standins; wine_real_installer puts Windows'
# own association back (msiexec /i "%1" %*; Wine's leaves out the %*).
WINE_MSI_COMMAND='HKCR\Msi.Package\shell\Open\command'
wine_standin_installer() {
  mkdir -p "$WINEPREFIX/drive_c/rovend-standins"
  cp "$WINE_BUILD/bin/standins/msiexec.exe" "$WINEPREFIX/drive_c/rovend-standins/msiexec.exe"
  "$WINE" reg add "$WINE_MSI_COMMAND" /ve /d '"C:\rovend-standins\msiexec.exe" /i "%1" %*' /f >/dev/null
}
wine_real_installer() {
  "$WINE" reg add "$WINE_MSI_COMMAND" /ve /d 'C:\windows\system32\msiexec.exe /i "%1" %*' /f >/dev/null 2>&1 || true
}

# wine_wait_unpacked: waits until the unpacking screen has gone; sets
# REPORT to what wininspect tells of the window then.
wine_wait_unpacked() {
  local _
  REPORT=""
  for _ in $(seq 50); do
    REPORT=$("$WINE" "$WINE_BUILD/bin/wininspect.exe" "Ровенд настройка" | tr -d '\r')
    grep -q "^child RovendWindow 0 " <<<"$REPORT" && return 0
    sleep 0.2
  done
  return 1
}

# wine_close_setup: closes the window as a user would (Alt+F4) and waits for
# the program to end; fails when it does not.
wine_close_setup() {
  xdotool windowfocus "$SETUP_WINDOW" 2>/dev/null || true
  sleep 0.3
  xdotool key alt+F4
  local _
  for _ in $(seq 100); do
    kill -0 "$SETUP_PID" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# wine_pixel X Y: the screen's colour there as "R G B".
wine_pixel() {
  import -window root -crop "1x1+$1+$2" -depth 8 rgb:- 2>/dev/null | od -An -tu1 | xargs
}

# check DESCRIPTION COMMAND...: one verdict line per check; check_summary
# ends the script with the count.
failures=0
check() {
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
# check_within SECONDS DESCRIPTION COMMAND...: for what the window shows
# once its watch has ticked; a loaded machine only makes it later.
check_within() {
  local deadline=$((SECONDS + $1))
  until "${@:3}"; do
    if ((SECONDS >= deadline)); then echo "FAILED: $2"; failures=$((failures + 1)); return; fi
    sleep 0.3
  done
  echo "ok: $2"
}
check_summary() {
  echo "$failures failed"
  exit $((failures > 0))
}
