#!/bin/busybox sh
# The guest's init: load the drive modules, run the checker, compare checksums, power off.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp

for m in $(cat /modules.order); do insmod /modules/$m.ko 2>/dev/null; done

for word in $(cat /proc/cmdline); do
    case $word in
    tvxbus=*) bus=${word#tvxbus=} ;;
    tvxused=*) used=${word#tvxused=} ;;
    esac
done

i=0
while [ ! -e /dev/sr0 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
[ -e /dev/sr0 ] || echo "FAIL device: /dev/sr0 did not appear"

echo  # the console may start with terminal control bytes
[ -x /command_probe ] && TMPDIR=/tmp /command_probe
# The drive report (before the checker, which ejects the disc at its end).
if [ -x /tvx-probe ]; then
    . /report_out.sh
    TMPDIR=/tmp print_report "qemu-$([ "$bus" = 2 ] && echo scsi || echo ide)" -d /dev/sr0
fi
# The kernel's file systems first: the checker ejects the disc at its end.
. /mount_checks.sh
krc=0
mounted_checks udf /checksums.txt > /tmp/udf.log || krc=1
mounted_checks iso9660 /checksums.txt > /tmp/iso.log || krc=1
cat /tmp/udf.log /tmp/iso.log
grep -q '^FAIL' /tmp/udf.log /tmp/iso.log && krc=1
mkdir -p /tmp/out
TMPDIR=/tmp /guest_check "$bus" "$used" /files.txt /tmp/out
rc=$?
[ $krc -eq 0 ] || rc=1

cd /tmp/out
while read -r sum path; do
    if [ -f "$path" ] && [ "$(sha256sum "$path" | cut -d' ' -f1)" = "$sum" ]; then
        echo "PASS checksum ${path#.}"
    else
        echo "FAIL checksum ${path#.}: content differs from the source"
        rc=1
    fi
done < /checksums.txt

echo "GUEST-END rc=$rc"
poweroff -f
