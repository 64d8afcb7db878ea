#!/usr/bin/env bash
# Runs the Windows build of the serial code under Wine against a pty:
# COM1 is mapped to the pty of tcc-station-sim serving 1024 bytes, and
# wine_serial_probe.exe sends the size request through CSerialPortCtrl and
# waits for the reply through the real reader thread.
# Wine needs libtiocmget_shim.so preloaded for event waits on a pty.
# Environment: scripts/wine-env.sh (WINEPREFIX...), TCC_NATIVE_BUILD.
# Usage: run_wine_serial.sh path/to/wine_serial_probe.exe
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
probe="${1:?usage: $0 wine_serial_probe.exe}"
# shellcheck source=station.sh
. "$here/station.sh"

fail() { echo "wine_serial_pty: FAIL: $*" >&2; exit 1; }
: "${WINEPREFIX:?source scripts/wine-env.sh first}"
: "${TCC_NATIVE_BUILD:?TCC_NATIVE_BUILD must name the native build directory}"
shim="$TCC_NATIVE_BUILD/tests/wine/libtiocmget_shim.so"
sim="$TCC_NATIVE_BUILD/tools/station-sim/tcc-station-sim"
[ -f "$shim" ] || fail "$shim is missing: build the native target tiocmget_shim"
for f in "$sim" "$probe"; do [ -f "$f" ] || fail "$f is missing"; done

work="$(mktemp -d)"
cleanup() {
  station_stop
  rm -rf "$work"
}
trap cleanup EXIT

station_start "$sim" "$work" --unpaced --size 1024 --verbose || fail "the simulator did not start"
echo "wine_serial_pty: COM1 -> $station_pty"
station_map_com COM1 "$station_pty" || fail "could not set HKLM\\Software\\Wine\\Ports COM1"

set +e
LD_PRELOAD="$shim" timeout 60 wine "$probe" COM1 >"$work/probe.log" 2>&1
probe_rc=$?
set -e
cat "$work/probe.log"
station_stop
cat "$work/sim.err"
link="$(readlink "$WINEPREFIX/dosdevices/com1" 2>/dev/null || true)"
[ "$link" = "$station_pty" ] || echo "wine_serial_pty: note: dosdevices/com1 -> '${link}'"

grep -q "size request" "$work/sim.err" || fail "the station never saw the size request"
case "$probe_rc" in
  0) echo "wine_serial_pty: ok" ;;
  2) fail "COM1 did not open under Wine" ;;
  124) fail "the probe did not end within 60 s (reader thread stuck?)" ;;
  *) fail "the probe got no expected reply (exit $probe_rc)" ;;
esac
