#!/usr/bin/env bash
# The project's test run: installs what is missing, then builds and tests the
# stages named, in this order (all of them when none is named):
#   native  include rules and function length (scripts/check-layout.sh), the
#           format of every C++ file (.clang-format), then the g++ build,
#           unit and end-to-end tests
#   asan    clang build with AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan    clang build with ThreadSanitizer, the multi-threaded tests
#   fuzz    the libFuzzer targets of the asan build, bounded in time
#   wine    the Windows cross build (mingw-w64), its tests under Wine
#   release the installer and packages packed from the native and Windows
#           builds and signed with a throwaway certificate; lintian; a silent
#           install, start and uninstall under Wine
# Usage: scripts/test.sh [native] [asan] [tsan] [fuzz] [wine] [release]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

all_stages=(native asan tsan fuzz wine release)
declare -A wanted=()
for s in "$@"; do
  case " ${all_stages[*]} " in
    *" $s "*) wanted[$s]=1 ;;
    *) echo "test.sh: unknown stage '$s' (stages: ${all_stages[*]})" >&2; exit 2 ;;
  esac
done
if ((${#wanted[@]} == 0)); then for s in "${all_stages[@]}"; do wanted[$s]=1; done; fi
want() { [ -n "${wanted[$1]:-}" ]; }

"$root/scripts/setup.sh"

export TCC_BUILD_ROOT="$root/build"
jobs="$(nproc)"
summary=()

stage() { echo; echo "==== $*"; stage_start=$SECONDS; }
# Each stage's time since its heading, so that a slow one shows in the summary.
passed() { summary+=("$1: ok ($((SECONDS - stage_start)) s)"); }
configure_build() {  # dir, cmake args...
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -G "Unix Makefiles" -DTCC_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}
run_ctest() {  # name, dir, ctest args...
  local name="$1" dir="$2"; shift 2
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
  passed "$name"
}

if want native; then
  stage "layout: include rules and function length"
  "$root/scripts/check-layout.sh"
  passed layout
  stage "format: clang-format --dry-run --Werror"
  git -C "$root" ls-files -z '*.cpp' '*.h' '*.c' | (cd "$root" && xargs -0 clang-format --dry-run --Werror)
  passed format
fi

# The native build also serves the Wine stage (the simulator and the shim run
# on the Linux side) and the release stage (the tools and man pages), so those
# stages build it even when it is not tested.
if want native || want wine || want release; then
  stage "native build (g++)"
  configure_build "$TCC_BUILD_ROOT/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  export TCC_NATIVE_BUILD="$TCC_BUILD_ROOT/native"
  if want native; then run_ctest native "$TCC_BUILD_ROOT/native"; fi
fi

# The fuzz targets are built with the sanitizers, in the asan build.
if want asan || want fuzz; then
  stage "sanitizer build (clang, AddressSanitizer + UndefinedBehaviorSanitizer)"
  CC=clang CXX=clang++ configure_build "$TCC_BUILD_ROOT/asan" -DCMAKE_BUILD_TYPE=Debug \
    -DTCC_SANITIZE=address,undefined -DTCC_BENCH=OFF -DTCC_FUZZ=ON
  if want asan; then ASAN_OPTIONS=detect_leaks=1 run_ctest asan "$TCC_BUILD_ROOT/asan"; fi
fi

if want tsan; then
  stage "thread sanitizer build (clang)"
  CC=clang CXX=clang++ configure_build "$TCC_BUILD_ROOT/tsan" -DCMAKE_BUILD_TYPE=Debug \
    -DTCC_SANITIZE=thread -DTCC_BENCH=OFF
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest tsan "$TCC_BUILD_ROOT/tsan" -L threads
fi

if want fuzz; then
  stage "fuzzing (libFuzzer, bounded)"
  "$root/scripts/fuzz.sh" "$TCC_BUILD_ROOT/asan" "${TCC_FUZZ_SECONDS:-60}"
  passed fuzz
fi

if want wine || want release; then
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
  if want wine; then run_ctest wine "$TCC_BUILD_ROOT/win" -j1; fi
fi

if want release; then
  stage "release: installer and packages from the test builds, installed and removed under Wine"
  # Signed with a throwaway certificate: the checks verify every signature
  # and run the signed programs. The unsigned bytes are checked by
  # scripts/check-reproducible.sh.
  cert="$TCC_BUILD_ROOT/release-check-cert"
  bash "$root/tests/release/make_test_cert.sh" "$cert"
  SIGN_PFX="$cert/signer.pfx" SIGN_PASSWORD="$(cat "$cert/password")" \
    "$root/scripts/package.sh" "$TCC_BUILD_ROOT/native" "$TCC_BUILD_ROOT/win" "$TCC_BUILD_ROOT/release-check"
  TCC_SIGN_CERT="$cert/signer.pem" bash "$root/tests/release/check_release.sh" "$TCC_BUILD_ROOT/release-check"
  passed release
fi

echo
echo "==== summary"
printf '%s\n' "${summary[@]}"
echo "total: $SECONDS s"
