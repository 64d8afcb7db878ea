#!/usr/bin/env bash
# Runs every libFuzzer target of a build for a bounded time from its seed
# corpus under tests/fuzz/corpus/<target>. Usage: scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"; total="${2:-60}"
mapfile -t targets < <(find "$build" -maxdepth 3 -type f -name 'fuzz_*' -perm -u+x | sort)
# A build without targets (no clang, TCC_FUZZ off) has fuzzed nothing: fail.
if ((${#targets[@]} == 0)); then echo "fuzz: no targets built in $build" >&2; exit 1; fi
each=$(( total / ${#targets[@]} )); ((each > 0)) || each=1
for t in "${targets[@]}"; do
  name="$(basename "$t")"
  seeds="$root/tests/fuzz/corpus/$name"
  work="$(mktemp -d)"
  echo "fuzz: $name for ${each}s"
  dirs=("$work"); [ -d "$seeds" ] && dirs+=("$seeds")
  "$t" -max_total_time="$each" -print_final_stats=1 -timeout=10 "${dirs[@]}" 2>&1 | tail -n 12
  rm -rf "$work"
done
