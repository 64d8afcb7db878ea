# Sourced: a private Wine prefix under the build tree, quiet and without the
# Mono/Gecko prompts, plus a virtual X display for the tests that open windows.
: "${TCC_BUILD_ROOT:?}"
export WINEPREFIX="$TCC_BUILD_ROOT/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# A display of our own unless one is given: Xvfb picks a free number and
# reports it (-displayfd), so a stale socket of an earlier server is no trap.
# The caller stops it with: kill "$TCC_XVFB_PID".
if [ -z "${DISPLAY:-}" ]; then
  displayfile="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
  export TCC_XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
  [ -s "$displayfile" ] || { echo "wine-env: Xvfb did not start" >&2; kill "$TCC_XVFB_PID" 2>/dev/null; return 1; }
  export DISPLAY=":$(head -n1 "$displayfile")"
  rm -f "$displayfile"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: creating prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
# Wine links the user's Desktop, Documents and the like to the home folder;
# a test saving there must not write outside the build tree. Real folders in
# the prefix instead.
for link in "$WINEPREFIX/drive_c/users/$(id -un)"/*; do
  if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
done
# Wine's own fonts (Debian's fonts-wine: MS Sans Serif for the dialogs, Marlett
# for the caption buttons) sit in Wine's data folder, where this Wine does not
# look; without them a close box shows an "r". It finds them in the prefix.
if [ -d /usr/share/wine/fonts ]; then
  cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi
# Without a window manager Wine draws the window frames itself only when told
# to (Decorated), and the screenshots want the captions. Unmanaged windows:
# Wine otherwise waits two seconds at every window it hides for a window
# manager to confirm it, a box closed or a program ending alike.
if ! grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null ||
   ! grep -q '^"Decorated"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 &&
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 &&
    wineserver -w || {
    echo "wine-env: could not set the X11 driver's Decorated and Managed values" >&2
    if [ -n "${TCC_XVFB_PID:-}" ]; then kill "$TCC_XVFB_PID" 2>/dev/null; fi
    return 1
  }
fi
