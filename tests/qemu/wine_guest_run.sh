#!/bin/bash
# Runs in the guest, chrooted into the host's root file system: starts CDEmu, gives Wine's
# prefixes the guest's drives, then runs wine_check through the pass-through path (drive
# letters D: to F:) and through the test's ASPI layer (the drives listed in the registry):
# every drive's identity, the discs burned onto CDEmu's DVD+R and read back by the library and
# the guest kernel, and the pressed disc read in QEMU's IDE and SCSI drives.
# Usage: wine_guest_run.sh <settings file>   (share, src_dir, cdemu_prefix, scripts)
set -u
. "$1"
rc=0
fail() { echo "FAIL $*"; rc=1; }
stamp() { echo "INFO $(cut -d' ' -f1 /proc/uptime) s: $*"; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
. "$scripts/mount_checks.sh"

cdemu() {
    gdbus call --session --dest net.sf.cdemu.CDEmuDaemon --object-path /Daemon \
        --method net.sf.cdemu.CDEmuDaemon."$@"
}
eval "$(dbus-daemon --session --fork --print-address=1 | sed 's/^/export DBUS_SESSION_BUS_ADDRESS=/')"
LD_LIBRARY_PATH=$cdemu_prefix/lib "$cdemu_prefix/bin/cdemu-daemon" --bus=session --num-devices=1 \
    --ctl-device=/dev/vhba_ctl --audio-driver=null > /tmp/daemon.log 2>&1 &
i=0
until cdemu GetNumberOfDevices > /dev/null 2>&1 || [ $i -ge 150 ]; do sleep 0.2; i=$((i + 1)); done
cdemu GetNumberOfDevices > /dev/null 2>&1 || { fail "daemon: cdemu-daemon did not come up"; exit 1; }

# A fresh blank DVD+R whose image CDEmu writes to $1.
blank() {
    rm -f "$1"
    cdemu DeviceUnload 0 > /dev/null 2>&1
    cdemu DeviceCreateBlank 0 "$1" "{'writer-id': <'WRITER-ISO'>, 'medium-type': <'dvd+r'>}" \
        > /dev/null || fail "blank: DeviceCreateBlank $1"
}
blank /tmp/first.iso
i=0
while [ "$(ls -d /sys/block/sr* 2>/dev/null | wc -l)" -lt 3 ] && [ $i -lt 100 ]; do
    sleep 0.2; i=$((i + 1))
done

# The drives: kind (ide, scsi, cdemu), block and generic device, kernel address H:C:T:L and
# identity, one line each, in the order of their block devices.
trim() { sed 's/ *$//' "$1"; }
: > /tmp/drives
for block in $(cd /sys/block && ls -d sr* | sort -V); do
    dev=/sys/block/$block/device
    path=$(readlink -f "$dev")
    vendor=$(trim "$dev/vendor")
    case $path in
    *vhba*) kind=cdemu ;;
    */ata*) kind=ide ;;
    *virtio*) kind=scsi ;;
    *) kind=other ;;
    esac
    sg=$(ls "$dev/scsi_generic")
    echo "$kind $block $sg ${path##*/} $vendor|$(trim "$dev/model")|$(trim "$dev/rev")" >> /tmp/drives
done
sed 's/^/INFO kernel drive: /' /tmp/drives
[ "$(cut -d' ' -f1 /tmp/drives | sort | tr '\n' ' ')" = "cdemu ide scsi " ] ||
    fail "drives: the guest does not show the IDE, SCSI and CDEmu drives"

# The pass-through prefix: D:, E:, F: are the drives in that order (the registry makes them
# CD-ROM drives).
letters=(D E F)
n=0
while read -r kind block rest; do
    l=$(echo "${letters[$n]}" | tr A-Z a-z)
    mkdir -p "$share/mnt-$l"
    ln -sfn "/dev/$block" "$share/prefix-spti/dosdevices/$l::"
    ln -sfn "$share/mnt-$l" "$share/prefix-spti/dosdevices/$l:"
    n=$((n + 1))
done < /tmp/drives

# What the table must hold for each drive. The pass-through path: its letter, and what Wine
# answers to the SCSI address query (port 2 for every drive, the kernel's host number as the
# path, which the table does not keep, then the kernel's target and LUN) and to the adapter
# property query (it fails, so the bus kind stays 0). ASPI: no letter (the
# registry lists no CD-ROM class devices), the adapter in the order in which the layer lists the
# registry's ports and buses, and bus kind 0 (opened by address).
expected() {  # <transport> <line number in /tmp/drives>
    local kind block sg addr ident h c t l ha v p r
    read -r kind block sg addr ident <<< "$(sed -n "$2p" /tmp/drives)"
    IFS=: read -r h c t l <<< "$addr"
    if [ "$1" = SPTI ]; then
        printf 'letter=%s bus=0 address=2:%s:%s' "${letters[$2 - 1]}" "$t" "$l"
    else
        ha=$(cut -d' ' -f4 /tmp/drives | cut -d: -f1,2 | sort -t: -k1,1n -k2,2n -u |
            grep -n -x "$h:$c" | cut -d: -f1)
        printf 'letter=- bus=0 address=%s:%s:%s' "$((ha - 1))" "$t" "$l"
    fi
    IFS='|' read -r v p r <<< "$ident"
    printf ' vendor=%s product=%s revision=%s\n' "$v" "$p" "$r"
}
# The field that tells the drive apart in the table: the letter on the pass-through path (every
# drive has port 2 there), the address on the ASPI path.
selector_of() {
    local e
    e=$(expected "$@")
    case $1 in
    SPTI) echo "${e%% *} " ;;
    *) echo "$e" | sed 's/.*\(address=[^ ]*\).*/\1 /' ;;
    esac
}

# The program and the DLL run from the guest's memory: Wine maps them, which 9p files resist.
# The ASPI run has the test's ASPI layer beside them.
mkdir -p /tmp/program-spti /tmp/program-aspi
cp "$share/wine_check.exe" "$share/Torvexin.dll" /tmp/program-spti/
cp "$share/wine_check.exe" "$share/Torvexin.dll" "$share/WNASPI32.dll" /tmp/program-aspi/

# wine_check's lines, with the passed reads counted rather than listed.
run_wine() {
    wine "/tmp/program-$kind/wine_check.exe" "$@" 2>/tmp/wine.err | tr -d '\r' > /tmp/wine.out
    local status=${PIPESTATUS[0]}
    grep -v '^PASS read ' /tmp/wine.out
    grep -q '^PASS read ' /tmp/wine.out && echo "PASS $(grep -c '^PASS read ' /tmp/wine.out) reads"
    [ -s /tmp/wine.err ] && head -5 /tmp/wine.err | sed 's/^/INFO wine: /'
    [ $status -eq 0 ] || fail "wine_check $1 exited with status $status"
}

# The guest kernel's udf and iso9660 file systems: failures, and a count of the files passed.
kernel_checks() {  # <checksum list> <device>
    local fs
    for fs in udf iso9660; do
        mounted_checks $fs "$1" "$2" > /tmp/mount.out
        grep -v '^PASS' /tmp/mount.out | grep . && rc=1
        echo "PASS kernel $fs: $(grep -c '^PASS' /tmp/mount.out) checks"
    done
}

cdemu_line=$(grep -n '^cdemu ' /tmp/drives | cut -d: -f1)
cdemu_block=/dev/$(grep '^cdemu ' /tmp/drives | cut -d' ' -f2)
for transport in SPTI ASPI; do
    kind=$(echo $transport | tr A-Z a-z)
    export WINEPREFIX=$share/prefix-$kind WINEDEBUG=${TVX_WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n,b"
    stamp "$transport: Wine starts"
    wineserver -p
    if [ $transport = SPTI ]; then
        run_wine controls DEF | sed 's/^CONTROL/INFO Wine answers on/' | grep -v '^DONE'
    else
        # The devices of the ASPI layer, under the keys Wine's own layer reads too.
        keys=()
        while read -r k block sg addr ident; do
            IFS=: read -r h c t l <<< "$addr"
            keys+=("$h" "$c" "$t" "$l" "/dev/$block")
        done < /tmp/drives
        run_wine scsi-key "${keys[@]}" | grep -v '^DONE'
        # Wine's own layer, for the record: it lists the adapters of these keys but answers
        # every request with SS_INVALID_SRB, so the library finds no ASPI layer to use.
        WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=b" wine /tmp/program-spti/wine_check.exe \
            drives ASPI 3 2>/dev/null | tr -d '\r' | grep '^INFO transport' |
            sed "s/^INFO transport/INFO with Wine's own wnaspi32 the library chooses:/"
    fi
    stamp "$transport: drives"
    run_wine drives $transport 3 > /tmp/check.out
    sed 's/^DRIVE/INFO drive/' /tmp/check.out
    for i in 1 2 3; do
        want=$(expected $transport $i)
        got=$(grep "^DRIVE " /tmp/check.out | grep -F " $(selector_of $transport $i)" |
            sed 's/^DRIVE [0-9]* //; s/ caps=.*//')
        [ "$got" = "$want" ] && echo "PASS $transport identity $want" ||
            fail "$transport identity: expected $want"
    done

    # The DVD-Video burn goes through the pass-through path only: the ASPI layer carries the
    # same commands, which the data burn proves.
    jobs=(video data)
    [ $transport = ASPI ] && jobs=(data)
    for job in "${jobs[@]}"; do
        image=/tmp/$job-$kind.iso
        label=TVX_$(echo $job | tr a-z A-Z)
        blank "$image"
        stamp "$transport: burn $job"
        run_wine burn-$job $transport "$(winpath "$src_dir/$job")" "$label"
        cdemu DeviceLoad 0 "['$image']" "{}" > /dev/null || fail "reload: DeviceLoad $image"
        sleep 1
        stamp "$transport: read $job back"
        # A sample of the data folder's files (the guest kernel compares every one of them
        # below): each open walks the whole volume, which costs a second in the emulated guest.
        list=$share/$job.list
        [ -f "$share/$job-sample.list" ] && list=$share/$job-sample.list
        run_wine read $transport "$list" "$(winpath "$src_dir/$job")" \
            "$(selector_of $transport $cdemu_line)"
        stamp "$transport: kernel mounts"
        kernel_checks "$share/$job.sha256" "$cdemu_block"
        cdemu DeviceUnload 0 > /dev/null 2>&1
        rm -f "$image"
    done

    stamp "$transport: read the pressed disc in the IDE and SCSI drives"
    run_wine read $transport "$share/pressed.list" "$(winpath "$src_dir/pressed")" \
        "$(selector_of $transport "$(grep -n '^ide ' /tmp/drives | cut -d: -f1)")" \
        "$(selector_of $transport "$(grep -n '^scsi ' /tmp/drives | cut -d: -f1)")"
    wineserver -k
    wineserver -w
done
grep -i -E 'error|critical|warning' /tmp/daemon.log | head -20 | sed 's/^/INFO daemon: /'
stamp end
exit $rc
