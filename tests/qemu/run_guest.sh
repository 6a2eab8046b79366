#!/bin/bash
# Boots Debian's kernel under QEMU with a disc image in an emulated CD/DVD drive and runs the
# statically linked guest_check inside it. Fails on any failed check, and plainly when QEMU
# cannot start.
#
# Usage: run_guest.sh <guest_check binary> <disc image> <source folder> <ide|scsi> <work dir>
# The source folder holds the files that were burned to the disc, at the same paths.
set -euo pipefail

checker=$1 image=$2 source=$3 bus=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"

fail() { echo "qemu harness: $*" >&2; exit 1; }
command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 is missing (package qemu-system-x86)"
busybox=$(command -v busybox || true)
[ -n "$busybox" ] && file -L "$busybox" 2>/dev/null | grep -q 'statically linked' ||
    busybox=/bin/busybox
[ -x "$busybox" ] || fail "busybox (static) is missing (package busybox-static)"
command -v modinfo >/dev/null || fail "modinfo is missing (package kmod)"

. "$here/guest_kernel.sh"
guest_kernel "$work"

# Initramfs: busybox, the kernel modules for both controllers (with their dependencies, in load
# order), the checker, the list of files to read and their checksums.
root=$work/initramfs-$bus
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules}
cp "$busybox" "$root/bin/busybox"
cp "$checker" "$root/guest_check"
# Optionally a command probe that prints the drive's raw answers (for comparing drive models).
[ -n "${TVX_QEMU_PROBE:-}" ] && cp "$TVX_QEMU_PROBE" "$root/command_probe"
# Optionally `tvx probe`, whose drive report the guest prints for the host (report_out.sh).
if [ -n "${TVX_GUEST_PROBE:-}" ]; then
    cp "$TVX_GUEST_PROBE" "$root/tvx-probe"
    cp "$here/report_out.sh" "$root/report_out.sh"
fi
declare -A loaded=()
order=()
# The drive controllers, and the file systems that judge the disc before the checker.
for m in scsi_common scsi_mod cdrom sr_mod sg libata ata_piix virtio_pci virtio_scsi isofs udf; do
    add_module "$m" "$root"
done
printf '%s\n' "${order[@]}" > "$root/modules.order"

(cd "$source" && find . -type f | sed 's|^\.||' | sort) > "$root/files.txt"
(cd "$source" && find . -type f | sort | xargs -d '\n' sha256sum) > "$root/checksums.txt"

cp "$here/guest_init.sh" "$root/init"
cp "$here/mount_checks.sh" "$root/mount_checks.sh"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs-$bus.gz"

# What the guest should find: the image's size in blocks and the drive's bus kind.
used=$(( $(stat -c %s "$image") / 2048 ))
case $bus in
ide) buskind=1; drive=(-drive "file=$image,format=raw,media=cdrom,if=ide,index=1,readonly=on") ;;
scsi) buskind=2; drive=(-device virtio-scsi-pci,id=scsi0
                        -drive "file=$image,format=raw,media=cdrom,if=none,id=cd0,readonly=on"
                        -device scsi-cd,drive=cd0,bus=scsi0.0) ;;
*) fail "bus must be ide or scsi" ;;
esac
accel=(-accel tcg)
# no_timer_check: under a loaded host TCG's timer is slow enough to fail the kernel's IO-APIC
# timer test, which panics. KVM only when asked for: on some hosts it is present but unusably slow.
if [ "${TVX_QEMU_KVM:-0}" = 1 ] && [ -w /dev/kvm ]; then accel=(-accel kvm -accel tcg); fi

log=$work/console-$bus.log
set +e
# Room for TCG on a two-core host that runs other builds beside it.
timeout 480 qemu-system-x86_64 "${accel[@]}" -m 512 -nographic -no-reboot \
    -kernel "$vmlinuz" -initrd "$work/initramfs-$bus.gz" \
    -append "console=ttyS0 panic=-1 quiet no_timer_check tvxbus=$buskind tvxused=$used" \
    "${drive[@]}" > "$log" 2>&1
rc=$?
set -e
grep -a -E '^(PASS|FAIL|INFO|DONE|GUEST|PROBE|REPORT-END)' "$log" || true
[ $rc -eq 124 ] && fail "QEMU did not finish in time (see $log)"
grep -q '^GUEST-END' "$log" || fail "QEMU did not start or the guest did not run (exit $rc, see $log)"
if grep -q '^FAIL' "$log" || ! grep -q '^GUEST-END rc=0' "$log"; then
    fail "checks failed on the $bus drive (see $log)"
fi
echo "qemu harness: every check passed on the $bus drive"
