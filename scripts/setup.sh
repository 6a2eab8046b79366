#!/bin/bash
# Installs what Torvexin needs from Debian packages: building it (always), and with --tests also
# what the test suite, its independent checkers and the fuzzer use.
set -euo pipefail
packages=(cmake ninja-build g++ gcc pkg-config ccache libcli11-dev nlohmann-json3-dev)
if [ "${1:-}" = --tests ]; then
  packages+=(
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    # independent readers that check the images we write
    genisoimage udftools p7zip-full libarchive-tools lsdvd libdvdread-dev libudfread-dev
    # old volumes of other tools that a burn writes over: a hybrid with a FAT partition, a UDF
    # volume of mkudffs that udfclient puts files into (no mount needed)
    xorriso mtools udfclient
    # a small real DVD-Video folder is made at test time
    ffmpeg dvdauthor
    sg3-utils
    # the command line's test parses its JSON and renders its manual
    python3 groff-base
    # the Debian packages are made by cpack and judged by lintian
    dpkg-dev lintian
    # the reader fuzz target (libFuzzer)
    clang libclang-rt-14-dev
    # the pass-through path is checked against QEMU's emulated drives under a real kernel
    qemu-system-x86 busybox-static kmod cpio file
    # the write path is checked against CDEmu's drive model, built at test time (vhba against
    # Debian's kernel headers, libmirage, cdemu-daemon) and run on a session bus in the guest
    make libelf1 libssl3 libglib2.0-dev libglib2.0-bin libsndfile1-dev libsamplerate0-dev
    zlib1g-dev libbz2-dev liblzma-dev libao-dev libgcrypt20-dev intltool gettext dbus
    libarchive-tools
  )
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
