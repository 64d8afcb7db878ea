# Sourced by the benchmarks that run the command-line tools
# (bench/batch/bench-batch.sh, bench/noise/bench-noise.sh,
# scripts/bench-retrieval.sh), with root set to
# the source tree: configures BUILD_DIR (their first argument, default
# build/native) if it is not there yet, builds the station simulator and
# tcc-upload in it, and sets build, sim and upload.
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
