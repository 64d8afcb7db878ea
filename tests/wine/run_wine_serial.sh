#!/usr/bin/env bash
# Runs the Windows build of the serial code under Wine against a pty:
# COM1 is mapped to the pty's slave, pty_station.py plays the station on the
# master, and wine_serial_probe.exe sends the size request through
# CSerialPortCtrl and waits for the reply through the real reader thread.
# Wine needs libtiocmget_shim.so preloaded for event waits on a pty.
# Environment: scripts/wine-env.sh (WINEPREFIX...), TCC_NATIVE_BUILD.
# Usage: run_wine_serial.sh path/to/wine_serial_probe.exe
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
probe="${1:?usage: $0 wine_serial_probe.exe}"

fail() { echo "wine_serial_pty: FAIL: $*" >&2; exit 1; }
: "${WINEPREFIX:?source scripts/wine-env.sh first}"
: "${TCC_NATIVE_BUILD:?TCC_NATIVE_BUILD must name the native build directory}"
shim="$TCC_NATIVE_BUILD/tests/wine/libtiocmget_shim.so"
[ -f "$shim" ] || fail "$shim is missing: build the native target tiocmget_shim"
[ -f "$probe" ] || fail "$probe is missing"

work="$(mktemp -d)"
station_pid=""
cleanup() {
  if [ -n "$station_pid" ]; then kill "$station_pid" 2>/dev/null || true; wait "$station_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

python3 "$here/pty_station.py" "$work/slave" "$work/reply" 90 >"$work/station.log" 2>&1 &
station_pid=$!
for _ in $(seq 100); do [ -f "$work/slave" ] && break; sleep 0.1; done
[ -f "$work/slave" ] || { cat "$work/station.log" >&2; fail "the pty station did not start"; }
slave="$(cat "$work/slave")"
echo "wine_serial_pty: COM1 -> $slave"

# Wine rebuilds dosdevices/com1 from this value when its server starts, so
# stop the running server first: the next wine command starts a fresh one.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$slave" /f >/dev/null 2>&1 \
  || fail "could not set HKLM\\Software\\Wine\\Ports COM1"
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

set +e
LD_PRELOAD="$shim" timeout 60 wine "$probe" COM1 "$(cat "$work/reply")" >"$work/probe.log" 2>&1
probe_rc=$?
set -e
cat "$work/probe.log"
kill "$station_pid" 2>/dev/null || true
set +e; wait "$station_pid"; station_rc=$?; set -e
station_pid=""
cat "$work/station.log"
link="$(readlink "$WINEPREFIX/dosdevices/com1" 2>/dev/null || true)"
[ "$link" = "$slave" ] || echo "wine_serial_pty: note: dosdevices/com1 -> '${link}'"

[ "$station_rc" -eq 0 ] || fail "the station never saw the size request"
case "$probe_rc" in
  0) echo "wine_serial_pty: ok" ;;
  2) fail "COM1 did not open under Wine" ;;
  124) fail "the probe did not end within 60 s (reader thread stuck?)" ;;
  *) fail "the probe got no expected reply (exit $probe_rc)" ;;
esac
