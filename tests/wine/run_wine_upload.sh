#!/usr/bin/env bash
# The Windows build of tcc-upload runs a whole retrieval under Wine: COM1 is
# mapped to a station simulator's pty, and the saved file must equal what the
# simulator served; a port that does not exist must fail with exit status 1.
# Environment: scripts/wine-env.sh (WINEPREFIX...), TCC_NATIVE_BUILD.
# Usage: run_wine_upload.sh path/to/tcc-upload.exe
set -euo pipefail
upload="${1:?usage: $0 tcc-upload.exe}"

fail() { echo "wine_tcc_upload: FAIL: $*" >&2; exit 1; }
: "${WINEPREFIX:?source scripts/wine-env.sh first}"
: "${TCC_NATIVE_BUILD:?TCC_NATIVE_BUILD must name the native build directory}"
shim="$TCC_NATIVE_BUILD/tests/wine/libtiocmget_shim.so"
sim="$TCC_NATIVE_BUILD/tools/station-sim/tcc-station-sim"
for f in "$shim" "$sim" "$upload"; do [ -f "$f" ] || fail "$f is missing"; done

work="$(mktemp -d)"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --pty --unpaced --size 30000 --seed 7 --save-image "$work/served.bin" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^PTY ' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
slave="$(awk '/^PTY /{print $2; exit}' "$work/sim.out")"
[ -n "$slave" ] || { cat "$work/sim.err" >&2; fail "the simulator did not start"; }

# Wine rebuilds dosdevices/com1 from this value when its server starts.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$slave" /f >/dev/null 2>&1 \
  || fail "could not map COM1"
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

echo "BAUDRATE=115200" >"$work/UploadConfig.ini"
cd "$work"
set +e
LD_PRELOAD="$shim" timeout 60 wine "$upload" --port COM1 --output "Z:$work/out.qmf" --quiet \
  >"$work/upload.out" 2>"$work/upload.err"
rc=$?
set -e
cat "$work/upload.err"
[ "$rc" -eq 0 ] || fail "tcc-upload.exe exited with $rc"
cmp -s "$work/out.qmf" "$work/served.bin" || fail "the saved image differs from the served one"
echo "wine_tcc_upload: 30000 bytes saved exactly"

set +e
LD_PRELOAD="$shim" timeout 60 wine "$upload" --port COM99 --output "Z:$work/none.qmf" --quiet \
  >/dev/null 2>"$work/fail.err"
rc=$?
set -e
cat "$work/fail.err"
[ "$rc" -eq 1 ] || fail "a missing port gave exit status $rc, not 1"
grep -q "Unable to open serial port." "$work/fail.err" || fail "no \"Unable to open serial port.\" message"
[ ! -e "$work/none.qmf" ] || fail "a failed retrieval left a file behind"
echo "wine_tcc_upload: ok"
