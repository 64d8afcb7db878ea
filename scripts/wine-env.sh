# Sourced: a private Wine prefix under the build tree, quiet and without the
# Mono/Gecko prompts, plus a virtual X display for the tests that open windows.
: "${TCC_BUILD_ROOT:?}"
export WINEPREFIX="$TCC_BUILD_ROOT/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:97
  if ! [ -e /tmp/.X11-unix/X97 ]; then
    Xvfb :97 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X97 ] && break; sleep 0.1; done
  fi
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: creating prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
