#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, where they are missing.
set -euo pipefail

packages=(cmake g++ clang libclang-rt-14-dev libgtest-dev googletest libgmock-dev libbenchmark-dev
          g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb socat
          imagemagick python3)
# The release: installer, man pages, the .deb's dependencies, and Wine's own
# fonts (MS Sans Serif, Marlett) for true screenshots.
packages+=(nsis help2man dpkg-dev fonts-wine)
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
