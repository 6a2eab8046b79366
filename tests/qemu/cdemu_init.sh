#!/bin/busybox sh
# The guest's init for the CDEmu run: start CDEmu's daemon on a session bus with one drive, then
# for each folder in turn (/jobs): load a blank disc (/medium: DVD+R, BD-R or CD-R), burn it
# (on DVD+R with the library, with probes of the commands' answers before and after; else with
# `tvx burn-data --verify`), with a drive report of the blank disc (and on DVD+R of the written
# one reloaded), load the written image again, read it back with the library and through the
# kernel's udf and iso9660 file systems, and copy the image to a virtio disk.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

mkdir -p /run /mnt
prefix=$(cat /cdemu.prefix)
read -r medium cdemu_medium stem < /medium
export TMPDIR=/tmp LD_LIBRARY_PATH=$prefix/lib PATH=$prefix/bin:/bin:/usr/bin:/sbin:/usr/sbin

for m in $(cat /modules.order); do insmod /modules/$m.ko 2>/dev/null; done
insmod /modules/vhba.ko || echo "FAIL vhba: the module does not load"
echo  # the console may start with terminal control bytes

rc=0
fail() { echo "FAIL $*"; rc=1; }
stamp() { echo "INFO $(cut -d' ' -f1 /proc/uptime) s: $*"; }
cdemu() {
    gdbus call --session --dest net.sf.cdemu.CDEmuDaemon --object-path /Daemon \
        --method net.sf.cdemu.CDEmuDaemon."$@"
}

eval "$(dbus-daemon --session --fork --print-address=1 | sed 's/^/export DBUS_SESSION_BUS_ADDRESS=/')"
cdemu-daemon --bus=session --num-devices=1 --ctl-device=/dev/vhba_ctl --audio-driver=null \
    > /tmp/daemon.log 2>&1 &
i=0
until cdemu GetNumberOfDevices > /dev/null 2>&1 || [ $i -ge 100 ]; do sleep 0.2; i=$((i + 1)); done
if ! cdemu GetNumberOfDevices > /dev/null 2>&1; then
    fail "daemon: cdemu-daemon did not come up"
    sed 's/^/INFO daemon: /' /tmp/daemon.log
    echo "GUEST-END rc=1"
    poweroff -f
fi

# A fresh blank disc whose image CDEmu writes to $1.
blank() {
    rm -f "$1"
    cdemu DeviceUnload 0 > /dev/null 2>&1
    cdemu DeviceCreateBlank 0 "$1" "{'writer-id': <'WRITER-ISO'>, 'medium-type': <'$cdemu_medium'>}" \
        > /dev/null || fail "blank: DeviceCreateBlank $1"
    i=0
    while [ ! -e /dev/sr0 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    [ -e /dev/sr0 ] || fail "device: /dev/sr0 did not appear"
}

. /mount_checks.sh
. /report_out.sh

n=0
for job in $(cat /jobs); do
    n=$((n + 1))
    image=/run/$job.iso
    label="TVX_$(echo $job | tr a-z A-Z)"
    blank "$image"
    if [ $medium = dvd+r ]; then
        stamp "$job: probe of the blank disc"
        /command_probe | sed "s/^PROBE /PROBE blank-$job /"
        blank "$image"   # the probe may have touched the disc
    fi
    # Drive reports of the blank disc, once: the drive is the same for every folder.
    [ $n = 1 ] && print_report $stem-blank -d /dev/sr0
    stamp "$job: burn"
    if [ $medium = dvd+r ]; then
        /cdemu_check "burn-$job" "/src/$job" "$label" || rc=1
    else
        blank "$image"   # the report's probe may have touched the disc
        if /tvx -d 0 burn-data --verify -l "$label" "/src/$job" > /tmp/burn.log 2>&1; then
            echo "PASS burn-$job: tvx burn-data --verify"
        else
            fail "burn-$job: tvx burn-data --verify: $(tail -5 /tmp/burn.log)"
        fi
        sed 's/^/INFO tvx: /' /tmp/burn.log | tail -20
    fi
    cdemu DeviceLoad 0 "['$image']" "{}" > /dev/null || fail "reload: DeviceLoad $image"
    sleep 1
    stamp "$job: read back"
    /cdemu_check read "/$job.files" "/src/$job" "$(cat /$job.blocks)" || rc=1
    # The burn ejects the disc, and CDEmu unloads it: the written image comes back as the disc
    # CDEmu makes of it when loaded (a CD-ROM, for an image smaller than a CD).
    if [ $medium = dvd+r ]; then
        [ $job = video ] && print_report cdemu-dvdplusr-written-reloaded -d /dev/sr0
        # CDEmu's daemon does not survive a WRITE(10) to a reloaded image.
        /command_probe --skip WRITE10_ON_ROM | sed "s/^PROBE /PROBE written-$job /"
    fi
    stamp "$job: kernel mounts"
    mounted_checks udf "/$job.sha256"
    mounted_checks iso9660 "/$job.sha256"
    size=$(stat -c %s "$image")
    dd if="$image" of=/dev/vd$(echo $n | tr 12 ab) bs=1M conv=fsync 2>/dev/null ||
        fail "copy-out: $image to the virtio disk"
    echo "IMAGE $job $size"
    cdemu DeviceUnload 0 > /dev/null 2>&1
    rm -f "$image"
done
grep -i -E 'error|critical|warning' /tmp/daemon.log | head -20 | sed 's/^/INFO daemon: /'

stamp "end"
echo "GUEST-END rc=$rc"
poweroff -f
