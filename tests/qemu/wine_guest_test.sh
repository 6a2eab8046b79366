#!/bin/bash
# Torvexin.dll under Wine inside a Linux guest, on the guest kernel's drives: QEMU's IDE and SCSI
# CD-ROM drives holding a pressed disc, and CDEmu's DVD+R writer. The guest shares the host's
# root file system read-only over virtio-9p and runs Wine from it in a chroot; a second,
# writable share carries the Wine prefixes, the DLL and the test programs, and brings the
# library's log back. One boot runs the test program through the pass-through path and then
# through an ASPI layer (wine_aspi_layer.c: Wine's own no longer passes requests on).
#
# Usage: wine_guest_test.sh <Torvexin.dll> <wine_check.exe> <WNASPI32.dll> <source dir>
#                           <work dir> <cdemu dir>
# Skipped (exit 77) without QEMU, Wine, CDEmu's source tarball ($TVX_CDEMU_SOURCE, else
# ../shared/third_party/cdemu-src.tar.gz beside the source tree) or the host tools it needs.
set -euo pipefail
dll=$1 checker=$2 layer=$3 src=$4 work=$5 cdemu_dir=$6
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "wine guest harness: $*" >&2; exit 1; }
skip() { echo "wine guest harness: skipped: $*"; exit 77; }

tarball=${TVX_CDEMU_SOURCE:-$src/../shared/third_party/cdemu-src.tar.gz}
[ -f "$tarball" ] || skip "CDEmu's source tarball $tarball is missing (set TVX_CDEMU_SOURCE)"
for tool in qemu-system-x86_64 wine wineboot wineserver genisoimage iconv gdbus dbus-daemon \
            modinfo cpio; do
    command -v $tool >/dev/null || skip "$tool is missing"
done
busybox=$(command -v busybox || true)
[ -n "$busybox" ] && file -L "$busybox" 2>/dev/null | grep -q 'statically linked' ||
    busybox=/bin/busybox
[ -x "$busybox" ] || skip "busybox (static) is missing (package busybox-static)"

mkdir -p "$work"
work=$(cd "$work" && pwd)
. "$here/guest_kernel.sh"
guest_kernel "$work"
set +e
"$here/build_cdemu.sh" "$tarball" "$cdemu_dir" "$kver"
case $? in 0) ;; 77) skip "CDEmu cannot be built here" ;; *) fail "building CDEmu failed" ;; esac
set -e
cdemu_dir=$(cd "$cdemu_dir" && pwd)

# The folders: the DVD-Video sample; a data folder of a few hundred files with names outside
# ASCII that the ANSI code page (1252) holds and an empty file; a pressed disc's files.
src_dir=$work/src
rm -rf "$src_dir"
mkdir -p "$src_dir/video" "$src_dir/data" "$src_dir/pressed"
cp -r "$src/examples/sample-dvd/VIDEO_TS" "$src_dir/video/"
mkdir -p "$src_dir/video/AUDIO_TS"
data=$src_dir/data
for a in 1 2 3; do
    for b in 1 2 3 4; do
        dir="$data/level$a/sub $b"
        mkdir -p "$dir/deeper"
        for f in $(seq 1 8); do
            printf 'file %s %s %s\n' "$a" "$b" "$f" > "$dir/note-$f.txt"
            head -c $((f * 1531)) /dev/urandom > "$dir/deeper/part-$f.bin"
        done
    done
done
mkdir -p "$data/Überraschung" "$data/Café"
printf 'grüße\n' > "$data/Überraschung/Größe äöü.txt"
head -c 70001 /dev/urandom > "$data/Café/crème brûlée.bin"
: > "$data/empty.txt"
cp -r "$src/examples/sample-dvd/VIDEO_TS" "$src_dir/pressed/"
head -c 300000 /dev/urandom > "$src_dir/pressed/random.bin"
genisoimage -quiet -udf -iso-level 3 -input-charset utf-8 -V WINE_PRESSED \
    -o "$work/pressed.iso" "$src_dir/pressed" || fail "genisoimage failed"

# The writable share: the program beside the DLL, the lists, the prefixes.
share=$work/share
mkdir -p "$share"
rm -rf "$share/out" "$share"/*.list "$share"/*.sha256
mkdir -p "$share/out"
# Without its debugging sections the DLL loads faster in the slow guest.
i686-w64-mingw32-strip -o "$share/Torvexin.dll" "$dll" 2>/dev/null || cp "$dll" "$share/Torvexin.dll"
cp "$checker" "$share/wine_check.exe"
cp "$layer" "$share/WNASPI32.dll"
for job in video data pressed; do
    # Disc paths in the ANSI code page for the reader; checksums for the guest kernel's mounts.
    (cd "$src_dir/$job" && find . -type f | sed 's|^\.||' | LC_ALL=C sort) |
        iconv -f UTF-8 -t CP1252 > "$share/$job.list" || fail "a name of $job is not in CP1252"
    (cd "$src_dir/$job" && find . -type f | sort | xargs -d '\n' sha256sum) > "$share/$job.sha256"
done
# The library reads back every eighth file and every name outside ASCII.
{ awk 'NR % 8 == 1' "$share/data.list"; LC_ALL=C grep -a -e '[^ -~]' -e '/empty' "$share/data.list"; } |
    LC_ALL=C sort -u > "$share/data-sample.list"

# Two prefixes, made here once per Wine version: "spti" as a Windows machine would be set up,
# its CD-ROM letters D: to F: added in the guest; "aspi" where no drive letter opens as a
# volume (no mount manager, and C: and Z: have device links to nothing), so that the library's
# pass-through probe fails and it takes the ASPI layer. The second shares the first one's system
# files through hard links; its registry and user folders are copies of their own (Wine writes
# into the registry files in place).
wine_version=$(wine --version)
if [ "$(cat "$share/prefixes-made" 2>/dev/null)" != "$wine_version" ]; then
    rm -rf "$share/prefix-spti" "$share/prefix-aspi" "$share/prefixes-made"
    (
        export WINEPREFIX=$share/prefix-spti WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
        unset DISPLAY WAYLAND_DISPLAY
        wineboot -i </dev/null >/dev/null 2>&1 && wineserver -w
        cp -al "$share/prefix-spti" "$share/prefix-aspi"
        rm -rf "$share/prefix-aspi"/*.reg "$share/prefix-aspi/drive_c/users"
        cp -a "$share/prefix-spti"/*.reg "$share/prefix-aspi/"
        cp -a "$share/prefix-spti/drive_c/users" "$share/prefix-aspi/drive_c/"
        for l in d e f; do
            wine reg add 'HKLM\Software\Wine\Drives' /v $l: /d cdrom /f >/dev/null 2>&1
        done
        wineserver -w
        export WINEPREFIX=$share/prefix-aspi
        wine reg add 'HKLM\System\CurrentControlSet\Services\MountMgr' /v Start /t REG_DWORD \
            /d 4 /f >/dev/null 2>&1
        wineserver -w
        ln -sfn /nonexistent-volume "$share/prefix-aspi/dosdevices/c::"
        ln -sfn /nonexistent-volume "$share/prefix-aspi/dosdevices/z::"
    ) || fail "making the Wine prefixes failed"
    echo "$wine_version" > "$share/prefixes-made"
fi
rm -f "$share"/prefix-*/drive_c/users/root/Temp/Torvexin.log

cat > "$share/settings" <<EOF
share=$share
src_dir=$src_dir
cdemu_prefix=$cdemu_dir/prefix
scripts=$here
EOF

# Initramfs: busybox, the modules (drives, 9p, file systems, CDEmu's vhba) and the init.
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,host,modules}
cp "$busybox" "$root/bin/busybox"
cp "$cdemu_dir/vhba.ko" "$root/modules/"
declare -A loaded=()
order=()
for m in scsi_common scsi_mod cdrom sr_mod sg libata ata_piix virtio_ring virtio_pci_modern_dev \
         virtio_pci_legacy_dev virtio virtio_pci virtio_scsi 9pnet 9pnet_virtio netfs fscache 9p \
         isofs udf; do
    add_module "$m" "$root"
done
printf '%s\n' "${order[@]}" vhba > "$root/modules.order"
cp "$here/wine_guest_init.sh" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz"

accel=(-accel tcg)
if [ "${TVX_QEMU_KVM:-0}" = 1 ] && [ -w /dev/kvm ]; then accel=(-accel kvm -accel tcg); fi
log=$work/console.log
start=$(date +%s)
set +e
timeout 1200 qemu-system-x86_64 "${accel[@]}" -m 2048 -nographic -no-reboot \
    -kernel "$vmlinuz" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet no_timer_check" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$share",mount_tag=share,security_model=none \
    -drive "file=$work/pressed.iso,format=raw,media=cdrom,if=ide,index=1,readonly=on" \
    -device virtio-scsi-pci,id=scsi0 \
    -drive "file=$work/pressed.iso,format=raw,media=cdrom,if=none,id=cd0,readonly=on" \
    -device scsi-cd,drive=cd0,bus=scsi0.0 > "$log" 2>&1
rc=$?
set -e
grep -a -E '^(PASS|FAIL|INFO|DONE|GUEST|DRIVE|WINE)' "$log" | tr -d '\r' || true
echo "wine guest harness: the guest ran $(($(date +%s) - start)) s"
for kind in spti aspi; do
    l=$share/prefix-$kind/drive_c/users/root/Temp/Torvexin.log
    [ -f "$l" ] && cp "$l" "$work/Torvexin-$kind.log"
done
[ $rc -eq 124 ] && fail "QEMU did not finish in time (see $log)"
grep -q '^GUEST-END' "$log" || fail "QEMU did not start or the guest did not run (exit $rc, see $log)"
if grep -q '^FAIL' "$log" || ! grep -q '^GUEST-END rc=0' "$log"; then
    fail "checks failed in the guest (see $log and $work/Torvexin-*.log)"
fi
echo "wine guest harness: every check passed"
