#!/bin/busybox sh
# The guest's init for the Wine run: load the modules, mount the host's root (read-only) and the
# writable share at its host path inside it, bind the guest's /dev, /proc and /sys into it, and
# run wine_guest_run.sh there in a chroot.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules.order); do insmod /modules/$m.ko 2>/dev/null; done
echo  # the console may start with terminal control bytes

for word in $(cat /proc/cmdline); do
    case $word in tvxshare=*) share=${word#tvxshare=} ;; esac
done
end() { echo "GUEST-END rc=$1"; poweroff -f; }
opts=trans=virtio,version=9p2000.L,msize=262144
mount -t 9p -o $opts,ro hostroot /host ||
    { echo "FAIL 9p: the host's root does not mount"; end 1; }
mount -t 9p -o $opts,cache=mmap share "/host$share" ||
    { echo "FAIL 9p: the share does not mount"; end 1; }
for d in dev proc sys; do mount -o bind /$d /host/$d; done
# Writable state of the chroot: wineserver's socket, the session bus, CDEmu's images.
mount -t tmpfs tmp /host/tmp
mount -t tmpfs run /host/run
chroot /host /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp LANG=C.UTF-8 \
    /bin/bash "$(. "/host$share/settings"; echo "$scripts")/wine_guest_run.sh" "$share/settings"
end $?
