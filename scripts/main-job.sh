#!/usr/bin/env bash
# The main job: a configuration retrieval from the station simulator on a
# pseudo terminal, paced at 115200 baud, saved to a file whose SHA-256 is
# shown beside the simulator's. Installs what is missing and builds only the
# two programs it needs. Exits non-zero when the saved image differs.
# Usage: scripts/main-job.sh [OUTPUT_FILE]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/setup.sh"

build="$root/build/native"
echo "main-job: building tcc-station-sim and tcc-upload in $build"
cmake -S "$root" -B "$build" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tcc-station-sim tcc-upload -j"$(nproc)" >/dev/null
sim="$build/tools/station-sim/tcc-station-sim"
upload="$build/tools/tcc-upload/tcc-upload"

work="$root/build/main-job"
mkdir -p "$work"
output="$(realpath -m "${1:-$work/station.qmf}")"
served="$work/served.bin"
rm -f "$served" "$work/sim.out"
# The serial controller reads its rate from the working directory.
echo "BAUDRATE=115200" > "$work/UploadConfig.ini"

# shellcheck source=../tests/wine/station.sh
. "$root/tests/wine/station.sh"
trap station_stop EXIT INT TERM

# A 64 KiB image generated from a fixed seed; the simulator writes what it
# serves, so the comparison does not trust either program's own account.
station_start "$sim" "$work" --baud 115200 --size 65536 --seed 20240611 --once --save-image "$served" ||
  { echo "main-job: the simulator did not report its pty" >&2; exit 1; }
pty="$station_pty"
echo "main-job: station simulator on $pty (115200 baud, 65536 bytes)"

start=$(date +%s.%N)
status=0
(cd "$work" && "$upload" --port "$pty" --output "$output") || status=$?
end=$(date +%s.%N)
if [ "$status" -ne 0 ]; then
  echo "main-job: tcc-upload failed with exit status $status" >&2
  exit "$status"
fi
wait "$station_pid" 2>/dev/null || true
station_pid=""

saved_sum="$(sha256sum "$output" | cut -d' ' -f1)"
served_sum="$(sha256sum "$served" | cut -d' ' -f1)"
awk -v a="$start" -v b="$end" 'BEGIN { printf "main-job: retrieval took %.2f s\n", b - a }'
echo "main-job: image saved to $output ($(stat -c %s "$output") bytes)"
echo "SHA-256 saved     $saved_sum"
echo "SHA-256 simulator $served_sum"
if [ "$saved_sum" != "$served_sum" ]; then
  echo "main-job: MISMATCH: the saved image differs from the one served" >&2
  exit 1
fi
echo "main-job: OK, the saved image matches the simulator's"
