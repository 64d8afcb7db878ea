#!/usr/bin/env bash
# Retrieval benchmark (figures, not a test): tcc-upload against the station
# simulator on a pty.
#   paced at 115200 baud, 64 KiB: wall time against the line-rate floor
#     (wire bytes both ways, framing and escapes included, 11 bits a byte;
#     target at most 1.02 times the floor) and tcc-upload's CPU time (user +
#     system; target under 2 % of the wall time);
#   unpaced, 512 KiB: throughput in bytes per second.
# Usage: scripts/bench-retrieval.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=../bench/tools.sh
. "$root/bench/tools.sh"
bench_build_tools "${1:-}"
baud=115200

# shellcheck source=../tests/wine/station.sh
. "$root/tests/wine/station.sh"
work="$(mktemp -d /tmp/tcc-bench.XXXXXX)"
cleanup() {
  station_stop
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
cd "$work"
echo "BAUDRATE=$baud" > UploadConfig.ini

# run_once SIM_ARGS...: one retrieval; sets wall, cpu, sent, received.
run_once() {
  rm -f sim.out sim.err out.bin served.bin
  station_start "$sim" . --once --save-image served.bin "$@" ||
    { echo "bench: the simulator did not start" >&2; exit 1; }
  local pty="$station_pty"
  local TIMEFORMAT='%3R %3U %3S' times
  times="$( { time "$upload" --port "$pty" --output out.bin --quiet --no-log 2> upload.err; } 2>&1 )" || {
    echo "bench: tcc-upload failed:" >&2; cat upload.err >&2; exit 1; }
  wait "$station_pid" || true
  station_pid=""
  cmp -s out.bin served.bin || { echo "bench: the saved image differs from the served one" >&2; exit 1; }
  read -r wall user sys <<< "$times"
  cpu="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')"
  sent="$(sed -n 's/.*wire: \([0-9]*\) bytes sent, \([0-9]*\) received.*/\1/p' sim.err)"
  received="$(sed -n 's/.*wire: \([0-9]*\) bytes sent, \([0-9]*\) received.*/\2/p' sim.err)"
}

report_paced() {  # label
  awk -v label="$1" -v wall="$wall" -v cpu="$cpu" -v tx="$sent" -v rx="$received" -v baud="$baud" 'BEGIN {
    floor = (tx + rx) * 11 / baud
    printf "%s\n", label
    printf "  wire bytes       %d station->host + %d host->station = %d\n", tx, rx, tx + rx
    printf "  line-rate floor  %.3f s (%d baud, 11 bits a byte)\n", floor, baud
    printf "  wall time        %.3f s = %.4f x floor   (target <= 1.02)  %s\n", wall, wall / floor,
           wall / floor <= 1.02 ? "ok" : "MISSED"
    printf "  tcc-upload CPU   %.3f s = %.2f %% of wall (target < 2 %%)    %s\n", cpu, 100 * cpu / wall,
           100 * cpu / wall < 2 ? "ok" : "MISSED"
  }'
}

echo "tcc-upload retrieval benchmark ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
run_once --baud "$baud" --size 65536 --seed 1
report_paced "paced, 64 KiB, the simulator writing 2 ms slices"
run_once --baud "$baud" --size 65536 --seed 1 --slice 64
report_paced "paced, 64 KiB, 64-byte slices (as a USB serial adapter delivers them)"

best=""
for _ in 1 2 3; do
  run_once --unpaced --size 524288 --seed 2
  best="$(awk -v a="${best:-1e9}" -v b="$wall" 'BEGIN { print (b < a) ? b : a }')"
done
awk -v wall="$best" -v n=524288 'BEGIN {
  printf "unpaced, 512 KiB\n  best of 3         %.3f s = %.0f bytes/s (%.2f MiB/s)\n", wall, n / wall, n / wall / 1048576 }'
