#!/bin/bash
# Builds CDEmu (an independent user-space emulator of MMC drives: the vhba kernel module,
# libmirage and cdemu-daemon) from its source tarball into a folder of the build tree, for the
# guest kernel the QEMU tests boot. A finished build is kept and reused.
#
# Usage: build_cdemu.sh <source tarball> <output folder> <kernel release>
# Exit status 0: built (or reused); 77: a build tool or package is missing (the caller skips).
set -euo pipefail
tarball=$1 out=$2 kver=$3
mkdir -p "$out"
out=$(cd "$out" && pwd)
stamp=$out/built-$kver-$(sha256sum "$tarball" | cut -c1-16)
# The build is shared between build folders: one builds, another waits for it.
exec 9> "$out/build.lock"
flock 9
[ -f "$stamp" ] && exit 0

skip() { echo "cdemu build: $*" >&2; exit 77; }
fail() { echo "cdemu build: $*" >&2; exit 1; }
for tool in make gcc cmake pkg-config intltool-update msgfmt apt-get dpkg-deb; do
    command -v "$tool" >/dev/null || skip "$tool is missing (bash scripts/setup.sh --tests)"
done
for pc in glib-2.0 sndfile samplerate zlib ao; do
    pkg-config --exists "$pc" || skip "pkg-config module $pc is missing (bash scripts/setup.sh --tests)"
done

rm -rf "$out/src" "$out/prefix" "$out/headers" "$out"/built-*
mkdir -p "$out/src" "$out/headers"
tar -xzf "$tarball" -C "$out/src" --strip-components=1
log=$out/build.log
: > "$log"
run() { "$@" >> "$log" 2>&1 || fail "'$*' failed (see $log)"; }

# vhba against Debian's headers of the guest kernel, unpacked beside it. The arch package's
# Makefile includes the common one by its installed path; point it at the unpacked copy.
base=${kver%-*}            # 6.1.0-57
series=${kver%%-*}         # 6.1.0
series=${series%.*}        # 6.1
(cd "$out/headers" &&
    apt-get download "linux-headers-$kver" "linux-headers-$base-common" "linux-kbuild-$series" \
        >> "$log" 2>&1) || fail "cannot download the kernel headers of $kver (see $log)"
for deb in "$out"/headers/*.deb; do dpkg-deb -x "$deb" "$out/headers/root"; done
rm -f "$out"/headers/*.deb
kdir=$out/headers/root/usr/src/linux-headers-$kver
[ -f "$kdir/Makefile" ] || fail "no headers for $kver in the downloaded packages"
sed -i "s|/usr/src/linux-headers-$base-common|$out/headers/root/usr/src/linux-headers-$base-common|g" \
    "$kdir/Makefile"
# Kbuild's scripts live in linux-kbuild and are reached through a link to /usr/lib.
for link in "$kdir/scripts" "$kdir/tools"; do
    if [ -L "$link" ]; then
        target=$(readlink "$link")
        case $target in /*) ln -sfn "$out/headers/root$target" "$link" ;; esac
    fi
done
run make -C "$out/src/vhba-module" PWD="$out/src/vhba-module" KDIR="$kdir" KERNELRELEASE="$kver"
cp "$out/src/vhba-module/vhba.ko" "$out/vhba.ko"

# libmirage and the daemon, installed under one prefix; the daemon finds libmirage's plugins at
# the path they were built for, so the guest keeps that path.
prefix=$out/prefix
run cmake -S "$out/src/libmirage" -B "$out/src/libmirage/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DGTKDOC_ENABLED=OFF \
    -DINTROSPECTION_ENABLED=OFF -DVAPI_ENABLED=OFF -DPOST_INSTALL_HOOKS=OFF
run cmake --build "$out/src/libmirage/build" -j2
run cmake --install "$out/src/libmirage/build"
run env PKG_CONFIG_PATH="$prefix/lib/pkgconfig" cmake -S "$out/src/cdemu-daemon" \
    -B "$out/src/cdemu-daemon/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib -DENABLE_LOGIND_SLEEP_HANDLER=OFF
run cmake --build "$out/src/cdemu-daemon/build" -j2
run cmake --install "$out/src/cdemu-daemon/build"
[ -x "$prefix/bin/cdemu-daemon" ] || fail "cdemu-daemon was not installed (see $log)"
rm -rf "$out/src" "$out/headers"
touch "$stamp"
