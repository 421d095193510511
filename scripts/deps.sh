#!/usr/bin/env bash
# Installs the Debian packages the build needs when run as root; otherwise
# prints the apt-get line that would install them.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev dpkg-dev python3)
if [ "${1:-}" = "--lint" ]; then
  packages+=(clang-format clang-tidy)
fi
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi
if [ "${1:-}" = "--ppc" ]; then
  # big-endian 32-bit cross compiler and the user-mode emulator to run it
  packages+=(g++-powerpc-linux-gnu qemu-user)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught in a sync fails one index; the install needs only the
  # indexes that came, and fails by itself if a package is missing.
  apt-get update -qq || echo "apt-get update failed for some indexes; installing from the rest"
  apt-get install -y -qq "${missing[@]}"
else
  echo "missing build packages; install them with:"
  echo "  sudo apt-get install -y ${missing[*]}"
  exit 1
fi
