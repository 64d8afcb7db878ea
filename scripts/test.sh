#!/usr/bin/env bash
# The project's whole test run: installs what is missing, then builds and tests
# the native build, a clang ASan/UBSan build, a TSan build, the fuzz targets
# and the Windows cross build under Wine. Usage: scripts/test.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/setup.sh"

export TCC_BUILD_ROOT="$root/build"
jobs="$(nproc)"
summary=()

stage() { echo; echo "==== $*"; }
configure_build() {  # dir, cmake args...
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -G "Unix Makefiles" -DTCC_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}
run_ctest() {  # name, dir, ctest args...
  local name="$1" dir="$2"; shift 2
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
  summary+=("$name: ok")
}

stage "native build (g++)"
configure_build "$TCC_BUILD_ROOT/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
export TCC_NATIVE_BUILD="$TCC_BUILD_ROOT/native"
run_ctest native "$TCC_BUILD_ROOT/native"

stage "sanitizer build (clang, AddressSanitizer + UndefinedBehaviorSanitizer)"
CC=clang CXX=clang++ configure_build "$TCC_BUILD_ROOT/asan" -DCMAKE_BUILD_TYPE=Debug \
  -DTCC_SANITIZE=address,undefined -DTCC_BENCH=OFF -DTCC_FUZZ=ON
ASAN_OPTIONS=detect_leaks=1 run_ctest asan "$TCC_BUILD_ROOT/asan"

stage "thread sanitizer build (clang)"
CC=clang CXX=clang++ configure_build "$TCC_BUILD_ROOT/tsan" -DCMAKE_BUILD_TYPE=Debug \
  -DTCC_SANITIZE=thread -DTCC_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest tsan "$TCC_BUILD_ROOT/tsan" -L threads

stage "fuzzing (libFuzzer, bounded)"
"$root/scripts/fuzz.sh" "$TCC_BUILD_ROOT/asan" "${TCC_FUZZ_SECONDS:-60}"
summary+=("fuzz: ok")

stage "Windows cross build (mingw-w64), tests under Wine"
configure_build "$TCC_BUILD_ROOT/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DTCC_BENCH=OFF
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
stop_wine() {
  wineserver -k 2>/dev/null || true
  if [ -n "${TCC_XVFB_PID:-}" ]; then kill "$TCC_XVFB_PID" 2>/dev/null || true; fi
}
trap stop_wine EXIT
run_ctest wine "$TCC_BUILD_ROOT/win" -j1

echo
echo "==== summary"
printf '%s\n' "${summary[@]}"
