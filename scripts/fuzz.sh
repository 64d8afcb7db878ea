#!/usr/bin/env bash
# Runs every libFuzzer target of a build for a bounded time from its seed
# corpus under tests/fuzz/corpus/<target>. SECONDS is the fuzzing time of all
# targets together; a fuzzer keeps one core busy, so as many run at once as
# there are cores. Usage: scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"; total="${2:-60}"
mapfile -t targets < <(find "$build" -maxdepth 3 -type f -name 'fuzz_*' -perm -u+x | sort)
# A build without targets (no clang, TCC_FUZZ off) has fuzzed nothing: fail.
if ((${#targets[@]} == 0)); then echo "fuzz: no targets built in $build" >&2; exit 1; fi
each=$(( total / ${#targets[@]} )); ((each > 0)) || each=1
cores="$(nproc)"
logs="$(mktemp -d)"
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$logs"' EXIT

fuzz_one() {  # target: its corpus in a folder of its own, then the seeds
  local name work status=0
  name="$(basename "$1")"
  work="$(mktemp -d)"
  local dirs=("$work"); [ -d "$root/tests/fuzz/corpus/$name" ] && dirs+=("$root/tests/fuzz/corpus/$name")
  "$1" -max_total_time="$each" -print_final_stats=1 -timeout=10 "${dirs[@]}" >"$logs/$name.log" 2>&1 || status=$?
  rm -rf "$work"
  return "$status"
}

pids=()
for t in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= cores)); do wait -n || true; done
  echo "fuzz: $(basename "$t") for ${each}s"
  fuzz_one "$t" &
  pids+=("$!")
done
failed=0
for i in "${!targets[@]}"; do
  name="$(basename "${targets[$i]}")"
  status=0
  wait "${pids[$i]}" || status=$?
  echo "---- $name (exit $status)"
  tail -n 12 "$logs/$name.log"
  ((status == 0)) || failed=1
done
exit "$failed"
