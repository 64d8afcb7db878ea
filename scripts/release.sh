#!/usr/bin/env bash
# Builds a release of the commit checked out, from scratch, into build/release/:
# the Windows installer and zip, the Linux .deb and tarball, SHA256SUMS.
# The tree must be clean: the artefacts stand for the commit. Two runs on the
# same commit, in any folders, give the same bytes (scripts/check-reproducible.sh).
# SIGN_PFX (a PKCS#12 file), SIGN_PASSWORD and SIGN_TIMESTAMP_URL, when set,
# sign the Windows executables and packages (scripts/package.sh, README).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

if [ -n "$(git status --porcelain)" ]; then
  echo "release.sh: the work tree has uncommitted changes; a release is built from a commit" >&2
  git status --short >&2
  exit 1
fi

"$root/scripts/setup.sh"

SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

work="$root/build/release-work"
rm -rf "$work" "$root/build/release"
# The clone's folder must not reach the binaries (debug paths, __FILE__).
flags="-ffile-prefix-map=$root=."
common=(-G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release -DTCC_BENCH=OFF
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags")

echo "release.sh: building $(git log -1 --format='%h (%cI)')"
cmake -S "$root" -B "$work/native" "${common[@]}" >/dev/null
cmake --build "$work/native" -j"$(nproc)" --target tcc_release_files
cmake -S "$root" -B "$work/win" "${common[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$work/win" -j"$(nproc)" --target tcc_release_files

if [ -n "${SIGN_PFX:-}" ]; then
  echo "release.sh: signing with $SIGN_PFX${SIGN_TIMESTAMP_URL:+, time stamps from $SIGN_TIMESTAMP_URL}"
fi
"$root/scripts/package.sh" "$work/native" "$work/win" "$root/build/release"
