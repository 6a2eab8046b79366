#!/bin/busybox sh
# The guest's init for the Wine run: load the modules, mount the host's root (read-only) with
# the guest's /dev, /proc and /sys and a fresh /tmp and /run, then the writable share at its host
# path inside it, and run wine_guest_run.sh there in a chroot.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules.order); do insmod /modules/$m.ko 2>/dev/null; done
echo  # the console may start with terminal control bytes

end() { echo "GUEST-END rc=$1"; poweroff -f; }
opts=trans=virtio,version=9p2000.L,msize=262144
mount -t 9p -o $opts,ro hostroot /host ||
    { echo "FAIL 9p: the host's root does not mount"; end 1; }
mkdir -p /share
mount -t 9p -o $opts,cache=mmap share /share ||
    { echo "FAIL 9p: the share does not mount"; end 1; }
. /share/settings
for d in dev proc sys; do mount -o bind /$d /host/$d; done
# Writable state of the chroot: wineserver's socket, the session bus, CDEmu's images. The host's
# own /tmp and /run stay reachable outside the chroot for the run's folders that lie there (a
# clone or a build under /tmp): they are bound back in, and the share goes in last, so that
# nothing hides it wherever it lies.
mkdir -p /hostdir/tmp /hostdir/run
mount -o bind /host/tmp /hostdir/tmp
mount -o bind /host/run /hostdir/run
mount -t tmpfs tmp /host/tmp
mount -t tmpfs run /host/run
for dir in "$scripts" "$src_dir" "$cdemu_prefix"; do
    case $dir in
    /tmp/* | /run/*)
        mkdir -p "/host$dir" && mount -o bind "/hostdir$dir" "/host$dir" ||
            { echo "FAIL 9p: $dir cannot be reached in the guest"; end 1; } ;;
    esac
done
mkdir -p "/host$share" && mount -o bind /share "/host$share" ||
    { echo "FAIL 9p: the share cannot be bound at $share"; end 1; }
chroot /host /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp LANG=C.UTF-8 \
    /bin/bash "$scripts/wine_guest_run.sh" "$share/settings"
end $?
