# Sourced by the benchmarks that run the command-line tools
# (bench/batch/bench-batch.sh, bench/noise/bench-noise.sh,
# scripts/bench-retrieval.sh), with root set to
# the source tree: configures BUILD_DIR (their first argument, default
# build/native) if it is not there yet, builds the station simulator and
# tcc-upload in it, and sets build, sim and upload; bench_workspace gives a
# run its scratch folder and stops its simulators at the end.
# shellcheck shell=bash
bench_build_tools() {
  build="$(realpath -m "${1:-$root/build/native}")"
  if [ ! -d "$build" ]; then
    cmake -S "$root" -B "$build" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target tcc-station-sim tcc-upload -j"$(nproc)" >/dev/null
  sim="$build/tools/station-sim/tcc-station-sim"
  upload="$build/tools/tcc-upload/tcc-upload"
}

# bench_workspace NAME: the station helpers, and a scratch folder (work)
# entered for the run; at the end every process in pids is stopped and the
# folder removed.
bench_workspace() {
  # shellcheck source=../tests/wine/station.sh
  . "$root/tests/wine/station.sh"
  work="$(mktemp -d "/tmp/tcc-bench-$1.XXXXXX")"
  pids=()
  # Interrupted, the benchmark ends there, its table unfinished.
  trap bench_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  cd "$work"
}

bench_cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
