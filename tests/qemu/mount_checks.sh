# Sourced by the guests' init: the kernel's own file systems judge the disc in /dev/sr0 (or in
# the device given third).
# udf: every file of the checksum list at its path. iso9660: the bridge carries short names, so
# the multiset of file contents is compared instead, file count included.
mounted_checks() {  # <udf|iso9660> <sha256sum list, paths relative to the volume root> [device]
    local kind=$1 sums=$2 device=${3:-/dev/sr0} line
    mkdir -p /mnt
    if ! mount -t "$kind" -o ro "$device" /mnt 2>/tmp/mount.err; then
        echo "FAIL mount-$kind: $(cat /tmp/mount.err)"
        return 1
    fi
    if [ "$kind" = udf ]; then
        (cd /mnt && sha256sum -c "$sums" 2>&1) > /tmp/mount.sums
        while read -r line; do
            case $line in
            *': OK') echo "PASS $kind ${line%: OK}" ;;
            *) echo "FAIL $kind $line" ;;
            esac
        done < /tmp/mount.sums
    else
        # Empty files count only where the list has them (some lists leave them out).
        empty=e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855
        (cd /mnt && find . -type f -size +0 -exec sha256sum {} + | cut -d' ' -f1 | sort) \
            > /tmp/mount.sums
        if cut -d' ' -f1 "$sums" | grep -v "^$empty\$" | sort | cmp -s - /tmp/mount.sums; then
            echo "PASS $kind every file's content ($(wc -l < /tmp/mount.sums) files)"
        else
            echo "FAIL $kind the files' contents differ from the source"
        fi
    fi
    umount /mnt
    return 0
}
