#!/usr/bin/env bash
# The Windows build of tcc-upload runs a whole retrieval under Wine: COM1 is
# mapped to a station simulator's pty, and the saved file must equal what the
# simulator served, also with the rate from --baud and a --json report; a
# device or a pipe as the output is refused, by its name, before the port
# opens; a port
# that does not exist must fail with exit status 1, once per attempt with
# --retries, while a retry on a port that is there does not wait for it;
# --list-ports --json must give a JSON array.
# Environment: scripts/wine-env.sh (WINEPREFIX...), TCC_NATIVE_BUILD.
# Usage: run_wine_upload.sh path/to/tcc-upload.exe
set -euo pipefail
upload="${1:?usage: $0 tcc-upload.exe}"
# shellcheck source=station.sh
. "$(dirname "$0")/station.sh"

fail() { echo "wine_tcc_upload: FAIL: $*" >&2; exit 1; }
: "${WINEPREFIX:?source scripts/wine-env.sh first}"
: "${TCC_NATIVE_BUILD:?TCC_NATIVE_BUILD must name the native build directory}"
shim="$TCC_NATIVE_BUILD/tests/wine/libtiocmget_shim.so"
sim="$TCC_NATIVE_BUILD/tools/station-sim/tcc-station-sim"
for f in "$shim" "$sim" "$upload"; do [ -f "$f" ] || fail "$f is missing"; done

work="$(mktemp -d)"
cleanup() {
  station_stop
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

station_start "$sim" "$work" --unpaced --size 30000 --seed 7 --save-image "$work/served.bin" ||
  fail "the simulator did not start"
station_map_com COM1 "$station_pty" || fail "could not map COM1"

# upload NAME ARGS...: runs tcc-upload.exe, its output in NAME.out and NAME.err,
# its exit status in rc.
upload() {
  local name="$1"; shift
  set +e
  LD_PRELOAD="$shim" timeout 60 wine "$upload" "$@" >"$work/$name.out" 2>"$work/$name.err"
  rc=$?
  set -e
  cat "$work/$name.err"
}

echo "BAUDRATE=115200" >"$work/UploadConfig.ini"
cd "$work"
upload upload --port COM1 --output "Z:$work/out.qmf" --quiet
[ "$rc" -eq 0 ] || fail "tcc-upload.exe exited with $rc"
cmp -s "$work/out.qmf" "$work/served.bin" || fail "the saved image differs from the served one"
echo "wine_tcc_upload: 30000 bytes saved exactly"

# json_check FILE KEY=VALUE...: the one JSON object in FILE has those values
# (VALUE as Python writes it: 57600, saved, None).
json_check() {
  python3 - "$@" <<'PY' || fail "the --json report of $1 is wrong: $(cat "$1")"
import json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    lines = [l for l in f.read().splitlines() if l.strip()]
assert len(lines) == 1, lines
report = json.loads(lines[0])
for pair in sys.argv[2:]:
    key, want = pair.split("=", 1)
    assert str(report[key]) == want, (key, report[key], want)
PY
}

# --baud takes the place of UploadConfig.ini: no file, no "Using Defaults".
rm -f "$work/UploadConfig.ini" "$work/out.qmf"
upload json --port COM1 --output "Z:$work/out.qmf" --baud 57600 --json
[ "$rc" -eq 0 ] || fail "tcc-upload.exe --baud --json exited with $rc"
cmp -s "$work/out.qmf" "$work/served.bin" || fail "the image saved with --baud differs from the served one"
grep -q "Using Defaults" "$work/json.err" && fail "--baud still read UploadConfig.ini"
grep -q "saved 30000 bytes to Z:$work/out.qmf in .* s (.* KiB/s)" "$work/json.err" || fail "no summary"
json_check "$work/json.out" result=saved port=COM1 baud=57600 bytes=30000 attempts=1 frames_dropped=0 message=None \
  error=None baud_source=--baud "sha256=$(sha256sum "$work/served.bin" | cut -d' ' -f1)"
echo "wine_tcc_upload: --baud 57600 --json: $(cat "$work/json.out")"

# --output -: standard output in binary mode, every 0A byte as it came.
upload dash -p COM1 -o - -q
[ "$rc" -eq 0 ] || fail "tcc-upload.exe -o - exited with $rc"
cmp -s "$work/dash.out" "$work/served.bin" || fail "the image on standard output differs from the served one"
echo "wine_tcc_upload: -o -: 30000 bytes on standard output exactly"

# A device as the output (NUL) is refused before the port opens, and left alone.
upload device --port COM1 --output NUL --json
[ "$rc" -eq 3 ] || fail "--output NUL gave exit status $rc, not 3"
json_check "$work/device.out" result=failed attempts=0 error=save_failed "message=cannot write NUL: it is a device"
echo "wine_tcc_upload: --output NUL refused: $(cat "$work/device.err")"
# Devices and pipes are told by their names, never opened to ask: an opened
# COM port toggles its lines, a pipe server loses an instance.
for pair in 'COM1|it is a device' 'nul.qmf|it is a device' '\\.\pipe\tcc-test|it is a pipe'; do
  out="${pair%%|*}" want="${pair#*|}"
  upload refused --port COM1 --output "$out" --json
  [ "$rc" -eq 3 ] || fail "--output $out gave exit status $rc, not 3"
  json_check "$work/refused.out" result=failed attempts=0 error=save_failed "message=cannot write $out: $want"
done

upload fail --port COM99 --output "Z:$work/none.qmf" --quiet --json
[ "$rc" -eq 1 ] || fail "a missing port gave exit status $rc, not 1"
grep -q "COM99: Unable to open serial port. The port is not there" "$work/fail.err" ||
  fail "no \"Unable to open serial port\" line"
[ ! -e "$work/none.qmf" ] || fail "a failed retrieval left a file behind"
json_check "$work/fail.out" result=failed port=COM99 baud=None error=port_not_found sha256=None \
  "message=Unable to open serial port. The port is not there. Check the cable or USB adapter, and the port's number in Device Manager."
# A missing port is tried again after --retry-wait, and waited for.
upload retry --port COM99 --output "Z:$work/none.qmf" --quiet --json --retries 1 --retry-wait 1
[ "$rc" -eq 1 ] || fail "a missing port with --retries 1 gave exit status $rc, not 1"
json_check "$work/retry.out" result=failed attempts=2
echo "wine_tcc_upload: --list-ports:"
upload ports --list-ports
sed 's/^/    /' "$work/ports.out"
# The listing for programs: a JSON array whose COM1 (the mapped pty) has every
# key but by_id, which is Linux's.
upload portsjson --list-ports --json
[ "$rc" -eq 0 ] || fail "--list-ports --json exited with $rc"
python3 - "$work/portsjson.out" <<'PY' || fail "--list-ports --json is not the array expected: $(cat "$work/portsjson.out")"
import json, sys
ports = json.load(open(sys.argv[1], encoding="utf-8"))
assert isinstance(ports, list), ports
keys = {"port", "kind", "description", "vid", "pid", "serial", "manufacturer", "product"}
assert all(set(p) == keys for p in ports), ports
assert any(p["port"] == "COM1" for p in ports), ports
PY
sed 's/^/    /' "$work/portsjson.out"

# A retry on a port that is there does not wait for it: the station fails the
# first transfer only.
station_stop
station_start "$sim" "$work" --unpaced --size 3000 --fault oversize --first-transfer-only ||
  fail "the simulator did not start again"
station_map_com COM1 "$station_pty" || fail "could not map COM1 again"
upload present --port COM1 --output "Z:$work/out.qmf" --json --retries 1 --retry-wait 1
[ "$rc" -eq 0 ] || fail "the second attempt on COM1 gave exit status $rc"
grep -q "has not come back" "$work/present.err" && fail "COM1 was taken for missing"
json_check "$work/present.out" result=saved attempts=2
echo "wine_tcc_upload: ok"
