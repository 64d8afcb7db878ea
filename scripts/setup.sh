#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, where they are missing.
set -euo pipefail

packages=(cmake g++ clang libclang-rt-14-dev libgtest-dev googletest libgmock-dev libbenchmark-dev
          g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb socat
          imagemagick python3 clang-format git)
# The release: installer, man pages, the .deb's dependencies, and Wine's own
# fonts (MS Sans Serif, Marlett) for true screenshots.
packages+=(nsis help2man dpkg-dev fonts-wine)
# The MSI (wixl) and its checks (msiinfo), Authenticode signing and a test
# certificate, Debian's package checker.
packages+=(wixl msitools osslsigncode openssl lintian)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The help compiler for the Windows build. Debian's fp-utils-3.2.2 depends on
# the 200 MB fpc-source-3.2.2 that chmcmd does not need, so unless it is
# installed already, only the package's files are unpacked into the build
# tree, where the build looks for chmcmd and chmls.
root="$(cd "$(dirname "$0")/.." && pwd)"
fp_utils="$root/build/tools/fp-utils"
if ! command -v chmcmd-3.2.2 >/dev/null && ! command -v chmcmd >/dev/null &&
   [ ! -x "$fp_utils/usr/bin/chmcmd-3.2.2" ]; then
  echo "setup: unpacking fp-utils-3.2.2 (chmcmd, chmls) into $fp_utils"
  download="$(mktemp -d)"
  chmod 0755 "$download"  # apt fetches as its own user
  (cd "$download" && apt-get download -qq fp-utils-3.2.2) ||
    { sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"; $sudo apt-get update -qq &&
      (cd "$download" && apt-get download -qq fp-utils-3.2.2); }
  mkdir -p "$fp_utils"
  dpkg-deb -x "$download"/fp-utils-3.2.2_*.deb "$fp_utils"
  rm -rf "$download"
fi
