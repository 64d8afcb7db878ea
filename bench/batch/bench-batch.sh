#!/usr/bin/env bash
# Batch retrieval benchmark (figures, not a test): 1, 4 and 8 simulated
# stations on ptys, paced at 115200 baud, 64 KiB each, read by one tcc-upload.
# For every line it prints the run's time against that line's floor (its wire
# bytes both ways, framing and escapes included, 11 bits a byte; goal: within
# 1.05 of the floor), and for each batch the process's CPU time (user +
# system) per line as a share of one core over the batch's wall time (goal:
# under 1 %).
# Usage: bench/batch/bench-batch.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
# shellcheck source=../tools.sh
. "$root/bench/tools.sh"
bench_build_tools "${1:-}"
baud=115200
size=65536

bench_workspace batch
ptys=()

# start_station N: the simulator N on a pty, in folder st-N; appends to
# ports, ptys and pids.
start_station() {
  local n="$1"
  mkdir -p "st-$n"
  station_start "$sim" "st-$n" --baud "$baud" --size "$size" --seed "$n" --once --save-image "st-$n/served.bin" ||
    { echo "bench: simulator $n did not start" >&2; exit 1; }
  pids+=("$station_pid")
  ptys+=("$station_pty")
  ports+=(--port "$station_pty")
}

run_batch() {  # count
  local count="$1" n
  ports=() pids=() ptys=()
  rm -rf ./*.bin st-* out.json
  for ((n = 1; n <= count; n++)); do start_station "$n"; done
  local TIMEFORMAT='%3R %3U %3S' times
  times="$( { time "$upload" "${ports[@]}" --output 'out-{port}.bin' --baud "$baud" --json --quiet --no-log \
               >out.json 2>upload.err; } 2>&1 )" || { echo "bench: tcc-upload failed:" >&2; cat upload.err >&2; exit 1; }
  for pid in "${pids[@]}"; do wait "$pid" || true; done
  pids=()
  read -r wall user sys <<<"$times"
  echo "$count station(s), one tcc-upload: wall $wall s, CPU $user s user + $sys s system"
  awk -v count="$count" -v wall="$wall" -v cpu="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" \
      -v baud="$baud" '
    function num(key,   m) { return match($0, "\"" key "\": [0-9.]+") ? substr($0, RSTART + length(key) + 4, RLENGTH - length(key) - 4) + 0 : -1 }
    function str(key) { return match($0, "\"" key "\": \"[^\"]*\"") ? substr($0, RSTART + length(key) + 5, RLENGTH - length(key) - 6) : "" }
    {
      floor = (num("wire_bytes_sent") + num("wire_bytes_received")) * 11 / baud
      ratio = num("seconds") / floor
      worst = ratio > worst ? ratio : worst
      printf "  %-14s %s %6d bytes  %.3f s = %.4f x floor %.3f s  %s\n", str("port"), str("result"), num("bytes"),
             num("seconds"), ratio, floor, ratio <= 1.05 ? "ok" : "MISSED"
    }
    END {
      share = 100 * cpu / wall / count
      printf "  worst line %.4f x floor (goal <= 1.05)  %s\n", worst, worst <= 1.05 ? "ok" : "MISSED"
      printf "  CPU per line %.3f %% of a core (goal < 1 %%)  %s\n", share, share < 1 ? "ok" : "MISSED"
    }' out.json
  for ((n = 1; n <= count; n++)); do
    local safe="${ptys[n - 1]#/dev/}"
    cmp -s "out-${safe//\//_}.bin" "st-$n/served.bin" || { echo "bench: station $n's image differs" >&2; exit 1; }
  done
}

echo "tcc-upload batch benchmark ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)), $baud baud, $size bytes a station"
for count in 1 4 8; do run_batch "$count"; done
