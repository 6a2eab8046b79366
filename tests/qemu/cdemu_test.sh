#!/bin/bash
# Burns a DVD-Video folder and a nested data folder through a Linux guest's kernel onto CDEmu's
# emulated DVD+R writer (a drive model nobody here wrote), lets the guest's kernel mount what
# was written, then judges the written image files on the host with independent readers and
# against the image our own builder streams for the same folders. Prints the answers of CDEmu's
# drive and of our virtual recorder to the same commands side by side.
#
# With the medium bd-r or cd-r, a smaller data folder alone goes onto CDEmu's blank BD-R or CD-R
# with `tvx burn-data --verify` (one boot each; the command comparison is left to the DVD+R run).
#
# The guest also writes drive reports (`tvx probe`) of the blank disc (and, on DVD+R, of the
# written image reloaded), kept as test data in tests/data/drive-reports/ (drive_reports.sh).
#
# Usage: cdemu_test.sh <tvx> <cdemu_check> <command_probe> <source dir> <work dir> <cdemu dir>
#                      <tvx probe> [dvd+r|bd-r|cd-r]
# CDEmu's source tarball: $TVX_CDEMU_SOURCE, else ../shared/third_party/cdemu-src.tar.gz beside
# the source tree; without it the test is skipped (exit 77).
set -euo pipefail
tvx=$1 checker=$2 probe=$3 src=$4 work=$5 cdemu_dir=$6 tvx_probe=$7 medium=${8:-dvd+r}
# Per medium: CDEmu's name for the blank disc, the folders burned, the report names' stem,
# and the blocks a write unit holds (a BD-R track ends padded to a whole cluster).
unit=1
case $medium in
dvd+r) cdemu_medium=dvd+r jobs="video data" stem=cdemu-dvdplusr ;;
bd-r) cdemu_medium=bdr jobs=data stem=cdemu-bdr unit=32 ;;
cd-r) cdemu_medium=cdr80 jobs=data stem=cdemu-cdr ;;
*) echo "cdemu harness: unknown medium $medium" >&2; exit 1 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "cdemu harness: $*" >&2; exit 1; }
skip() { echo "cdemu harness: skipped: $*"; exit 77; }

tarball=${TVX_CDEMU_SOURCE:-$src/../shared/third_party/cdemu-src.tar.gz}
[ -f "$tarball" ] || skip "CDEmu's source tarball $tarball is missing (set TVX_CDEMU_SOURCE)"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is missing"
for tool in isoinfo udfinfo bsdtar 7z lsdvd gdbus dbus-daemon; do
    command -v $tool >/dev/null || skip "$tool is missing (bash scripts/setup.sh --tests)"
done
busybox=$(command -v busybox || true)
[ -n "$busybox" ] && file -L "$busybox" 2>/dev/null | grep -q 'statically linked' ||
    busybox=/bin/busybox
[ -x "$busybox" ] || fail "busybox (static) is missing (package busybox-static)"

mkdir -p "$work"
. "$here/guest_kernel.sh"
guest_kernel "$work"
set +e
"$here/build_cdemu.sh" "$tarball" "$cdemu_dir" "$kver"
case $? in 0) ;; 77) skip "CDEmu cannot be built here" ;; *) fail "building CDEmu failed" ;; esac
set -e
cdemu_dir=$(cd "$cdemu_dir" && pwd)
prefix=$cdemu_dir/prefix

# The folders to burn. The data folder: a few hundred files over several levels, an empty file,
# non-ASCII names, and a file of over 100 MB whose every 2048-byte block carries its own number
# (so a misplaced block shows, and the initramfs stays small). BD-R and CD-R take a tenth of it:
# under emulation every sector costs, and the DVD+R run covers the volume at scale.
levels="1 2 3 4" subs="1 2 3" files=20 big_blocks=51300
[ $medium = dvd+r ] || levels="1 2" subs="1 2" files=5 big_blocks=5000
rm -rf "$work/src"
mkdir -p "$work/src/data"
if [ $medium = dvd+r ]; then
    mkdir -p "$work/src/video/AUDIO_TS"
    cp -r "$src/examples/sample-dvd/VIDEO_TS" "$work/src/video/"
fi
data=$work/src/data
for a in $levels; do
    for b in $subs; do
        dir="$data/level$a/sub $b/deeper"
        mkdir -p "$dir/deepest"
        for f in $(seq 1 $files); do
            printf 'file %s %s %s\n' "$a" "$b" "$f" > "$dir/../note-$f.txt"
            head -c $((f * 1531)) /dev/urandom > "$dir/part-$f.bin"
        done
        head -c 4097 /dev/urandom > "$dir/deepest/leaf.dat"
    done
done
mkdir -p "$data/Überraschung" "$data/日本語"
printf 'grüße\n' > "$data/Überraschung/Größe äöü.txt"
printf 'こんにちは\n' > "$data/日本語/ファイル.txt"
head -c 123457 /dev/urandom > "$data/日本語/データ.bin"
: > "$data/empty.txt"
awk -v n=$big_blocks 'BEGIN { for (i = 0; i < n; i++) printf "block %-2040d\n", i; printf "tail" }' \
    > "$data/big.bin"

# The images our own builder streams for the same folders (burned onto a virtual recorder with
# the same medium).
for job in $jobs; do
    rm -f "$work/ref-$job.img" "$work/ref-$job.img.state"
    command=burn-dvd-video
    [ $job = data ] && command=burn-data
    "$tvx" -q --virtual "$work/ref-$job.img:$medium" $command -l "TVX_${job^^}" "$work/src/$job" ||
        fail "the reference burn of $job failed"
done

# Initramfs: busybox, the modules, CDEmu and tvx with every shared library they and CDEmu's
# plugins need at their own paths, a session bus, the checker, the probe, the folders and their
# checksums.
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules,etc,src}
cp "$busybox" "$root/bin/busybox"
cp "$checker" "$root/cdemu_check"
cp "$probe" "$root/command_probe"
cp "$tvx_probe" "$root/tvx-probe"
[ $medium = dvd+r ] || cp "$tvx" "$root/tvx"
cp "$here/report_out.sh" "$root/report_out.sh"
cp "$cdemu_dir/vhba.ko" "$root/modules/"
declare -A loaded=()
order=()
for m in scsi_mod cdrom sr_mod sg virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev \
         virtio_pci virtio_blk isofs udf; do
    add_module "$m" "$root"
done
printf '%s\n' "${order[@]}" > "$root/modules.order"
copy_path() { mkdir -p "$root$(dirname "$1")" && cp -a "$1" "$root$1"; }
binaries=("$prefix/bin/cdemu-daemon" "$(command -v dbus-daemon)" "$(command -v gdbus)")
for b in "${binaries[@]}"; do copy_path "$b"; done
mkdir -p "$root$prefix"
cp -a "$prefix/lib" "$root$prefix/"
libs=$( (for f in "${binaries[@]}" "$root"/tvx "$prefix"/lib/libmirage-*/*.so; do
    [ -e "$f" ] || continue
    LD_LIBRARY_PATH=$prefix/lib ldd "$f" | awk '/=> \// {print $3} /^\t\/lib/ {print $1}'
done) | sort -u)
# Each library, and the program interpreter, at the path the loader asks for.
for l in $libs /lib64/ld-linux-x86-64.so.2; do
    case $l in "$prefix"/*) continue ;; esac
    mkdir -p "$root$(dirname "$l")"
    cp -L "$l" "$root$l"
done
mkdir -p "$root/usr/share/dbus-1"
cp /usr/share/dbus-1/session.conf "$root/usr/share/dbus-1/"
echo "root:x:0:0:root:/root:/bin/sh" > "$root/etc/passwd"
echo "root:x:0:" > "$root/etc/group"
echo "$prefix" > "$root/cdemu.prefix"
echo "$medium $cdemu_medium $stem" > "$root/medium"
echo "$jobs" > "$root/jobs"
for job in $jobs; do
    cp -a "$work/src/$job" "$root/src/"
    # Our reader reads every file back, the empty one included.
    (cd "$work/src/$job" && find . -type f | sed 's|^\.||' | LC_ALL=C sort) > "$root/$job.files"
    # The blocks the disc holds: the volume, padded to a whole write unit.
    isoinfo -d -i "$work/ref-$job.img" |
        awk -F': ' -v u=$unit '/^Volume size is/ {print int(($2 + u - 1) / u) * u}' \
        > "$root/$job.blocks"
    (cd "$work/src/$job" && find . -type f | sort | xargs -d '\n' sha256sum) > "$root/$job.sha256"
done
cp "$here/cdemu_init.sh" "$root/init"
cp "$here/mount_checks.sh" "$root/mount_checks.sh"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz"

# A virtio disk per folder carries its written image out.
disks=()
for job in $jobs; do
    rm -f "$work/out-$job.img"
    truncate -s 400M "$work/out-$job.img"
    disks+=(-drive "file=$work/out-$job.img,format=raw,if=virtio")
done
accel=(-accel tcg)
if [ "${TVX_QEMU_KVM:-0}" = 1 ] && [ -w /dev/kvm ]; then accel=(-accel kvm -accel tcg); fi
log=$work/console.log
set +e
timeout 1500 qemu-system-x86_64 "${accel[@]}" -m 1536 -nographic -no-reboot \
    -kernel "$vmlinuz" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet no_timer_check" "${disks[@]}" > "$log" 2>&1
rc=$?
set -e
grep -a -E '^(PASS|FAIL|INFO|DONE|GUEST|IMAGE|REPORT-END)' "$log" || true
[ $rc -eq 124 ] && fail "QEMU did not finish in time (see $log)"
grep -q '^GUEST-END' "$log" || fail "QEMU did not start or the guest did not run (exit $rc, see $log)"
failed=0
if grep -q '^FAIL' "$log" || ! grep -q '^GUEST-END rc=0' "$log"; then
    echo "cdemu harness: checks failed in the guest (see $log)"
    failed=1
fi

# The written images, judged on the host.
for job in $jobs; do
    size=$(awk -v j=$job '$1 == "IMAGE" && $2 == j {print $3}' "$log" | tr -d '\r')
    if [ -z "$size" ]; then
        echo "FAIL host-$job: no image came out of the guest"
        failed=1
        continue
    fi
    "$here/judge_image.sh" "$work/out-$job.img" "$size" "$work/ref-$job.img" "$work/src/$job" \
        "$job" "$work/judge-$job" $unit || failed=1
done

# The drive reports, against the kept ones.
. "$here/drive_reports.sh"
states=blank
[ $medium = dvd+r ] && states="blank written-reloaded"
for state in $states; do
    name=$stem-$state
    if extract_report "$log" $name "$work/$name.json"; then
        check_report "$work/$name.json" "$src/tests/data/drive-reports/$name.json" || failed=1
    else
        echo "FAIL report $name: no report came out of the guest"
        failed=1
    fi
done

# The same commands to our virtual recorder with the same media, and every difference. CDEmu
# presents a reloaded image smaller than a CD as a CD-ROM, so the written disc is compared with
# our recorder holding the same image as a CD-ROM (and our written DVD+R is kept for reference).
if [ $medium = dvd+r ]; then
    for job in video data; do
        for state in blank written; do
            grep -a "^PROBE $state-$job " "$log" | tr -d '\r' | sed "s/^PROBE $state-$job //" \
                > "$work/probe-cdemu-$state-$job.txt" || true
        done
        "$probe" --blank DVD+R > "$work/probe-ours-blank-$job.txt" 2>&1 || true
        head -c "$(awk -v j=$job '$1 == "IMAGE" && $2 == j {print $3}' "$log" | tr -d '\r')" \
            "$work/ref-$job.img" > "$work/ref-$job.iso"
        "$probe" --virtual-cd "$work/ref-$job.iso" > "$work/probe-ours-written-$job.txt" 2>&1 ||
            true
        "$probe" --disc "$work/ref-$job.img" > "$work/probe-ours-dvd+r-$job.txt" 2>&1 || true
        rm -f "$work/ref-$job.iso"
        sed -i 's/^PROBE //' "$work"/probe-ours-*-$job.txt
    done
    for state in blank written; do
        echo "probe differences, $state disc (CDEmu, then ours):"
        awk 'NR == FNR { a[$1] = substr($0, length($1) + 2); next }
             { b = substr($0, length($1) + 2); gsub(/^ +/, "", b); c = a[$1]; gsub(/^ +/, "", c)
               if (c != b) printf "  %s\n    CDEmu: %s\n    ours:  %s\n", $1, c, b }' \
            "$work/probe-cdemu-$state-data.txt" "$work/probe-ours-$state-data.txt"
    done
fi

[ $failed -eq 0 ] || fail "some checks failed"
echo "cdemu harness: every check passed"
