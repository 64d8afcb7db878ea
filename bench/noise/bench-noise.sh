#!/usr/bin/env bash
# Noisy-line benchmark (figures, not a test): simulated stations on ptys,
# paced at 115200 baud, 64 KiB each, whose every byte sent has one bit flipped
# with probability P (tcc-station-sim --fault flip:P), read by one tcc-upload
# per row, without retries and with --retries 3. For each P it prints the
# share of runs saved beside the theory (a run survives when none of its
# bytes is hit: (1-p)^bytes, bytes being what the station sends in one
# transfer; with n attempts 1-(1-s)^n), the classes of the failed attempts,
# and the mean time from the start to the verdict (saved, or the last
# attempt's failure).
# Usage: bench/noise/bench-noise.sh [BUILD_DIR]   (default build/native)
#        RUNS=N: runs per row (default 16, the stations of a row run at once)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
# shellcheck source=../tools.sh
. "$root/bench/tools.sh"
bench_build_tools "${1:-}"
baud=115200
size=65536
runs="${RUNS:-16}"

bench_workspace noise

# run_row P RETRIES FIRST_SEED: RUNS stations at once, seeds FIRST_SEED on;
# their JSON lines go to row.json.
run_row() {
  local p="$1" retries="$2" seed="$3" n
  local ports=()
  pids=()
  rm -rf st-* ./*.bin row.json
  for ((n = 0; n < runs; n++)); do
    mkdir -p "st-$n"
    station_start "$sim" "st-$n" --baud "$baud" --size "$size" --seed "$((seed + n))" --fault "flip:$p" ||
      { echo "bench: simulator $n did not start" >&2; exit 1; }
    pids+=("$station_pid")
    ports+=(--port "$station_pty")
  done
  "$upload" "${ports[@]}" --output 'out-{port}.bin' --baud "$baud" --retries "$retries" --json --quiet --no-log \
    >row.json 2>upload.err || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
  [ "$(wc -l <row.json)" -eq "$runs" ] || { echo "bench: expected $runs reports:" >&2; cat upload.err >&2; exit 1; }
  cat row.json >>"all-$retries.json"
  python3 - "$p" "$retries" row.json <<'PY'
import json, sys
from collections import Counter
p, retries = float(sys.argv[1]), int(sys.argv[2])
rows = [json.loads(line) for line in open(sys.argv[3])]
saved = sum(r["result"] == "saved" for r in rows)
attempts = sum(r["attempts"] for r in rows)
per_transfer = sum(r["wire_bytes_received"] for r in rows) / attempts
survive = (1 - p) ** per_transfer
theory = 1 - (1 - survive) ** (retries + 1)
classes = Counter(c for r in rows for c in r["attempt_errors"])
seen = ", ".join(f"{c} {n}" for c, n in sorted(classes.items())) or "-"
mean = sum(r["seconds"] for r in rows) / len(rows)
print(f"{p:<8g} {retries:>7} {saved:>3}/{len(rows):<3} {100 * saved / len(rows):>5.0f}% {100 * theory:>6.0f}%"
      f"  {attempts:>8}  {mean:>7.1f} s  {seen}  ({per_transfer:.0f} bytes a transfer)")
PY
}

echo "tcc-upload on a noisy line: $runs runs a row at once, $size bytes at $baud baud" \
     "($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf "%-8s %7s %7s %6s %7s  %8s  %9s  %s\n" P retries saved share theory attempts verdict \
  "classes of the failed attempts"
seed=1000
for p in 1e-5 3e-5 1e-4; do
  for retries in 0 3; do
    run_row "$p" "$retries" "$seed"
    seed=$((seed + runs))
  done
done
