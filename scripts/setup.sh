#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libenet-dev libsodium-dev libboost-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 icoutils libxml2-utils zlib1g-dev
  clang libclang-rt-14-dev iproute2 util-linux procps
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
