#!/bin/bash
# Installs what building and testing Torvexin needs, from Debian packages.
set -euo pipefail
packages=(
  cmake ninja-build g++ gcc pkg-config ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev libcli11-dev
  # independent readers that check the images we write
  genisoimage udftools p7zip-full lsdvd libdvdread-dev libudfread-dev
  # a small real DVD-Video folder is made at test time
  ffmpeg dvdauthor
  sg3-utils
  # the reader fuzz target (libFuzzer)
  clang libclang-rt-14-dev
  # the pass-through path is checked against QEMU's emulated drives under a real kernel
  qemu-system-x86 busybox-static kmod cpio file
)
# The 32-bit Windows build and its tests under Wine (scripts/win32-test.sh), where the system
# can run i386 packages.
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    $SUDO dpkg --add-architecture i386
  fi
  packages+=(g++-mingw-w64-i686 wine wine32:i386 locales)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
