#!/bin/bash
# Burns a DVD-Video folder and a nested data folder onto a virtual DVD-R with our own library,
# then boots a Linux guest whose QEMU drive holds that disc image and checks it through the
# kernel's pass-through path.
# With a static tvx probe, the guest also probes its drive; the report is kept as test data in
# tests/data/drive-reports/qemu-<bus>.json and a fresh one must match it (drive_reports.sh).
# Usage: qemu_test.sh <tvx> <guest_check> <source dir> <ide|scsi> <work dir> [<tvx probe>]
set -euo pipefail
tvx=$1 checker=$2 src=$3 bus=$4 work=$5 probe=${6:-}
rm -rf "$work/source" "$work/disc.img" "$work/disc.img.state"
mkdir -p "$work/source/DATA/level1/level2"
cp -r "$src/examples/sample-dvd/VIDEO_TS" "$work/source/"
mkdir -p "$work/source/AUDIO_TS"
echo "top" > "$work/source/DATA/readme.txt"
head -c 200000 /dev/urandom > "$work/source/DATA/level1/random.bin"
head -c 70000 /dev/urandom > "$work/source/DATA/level1/level2/deep.bin"
: > "$work/source/DATA/level1/empty.txt"

# 400,000 blocks (about 800 MB, more than a CD holds) so that QEMU reports a DVD-ROM; the disc
# image is sparse beyond the volume.
"$tvx" -q --virtual "$work/disc.img:dvd-r:400000" burn-dvd-video --verify -l QEMU_TEST \
    "$work/source"
rm -f "$work/disc.img.state"
# Empty files have no data on the disc; the guest reads every other file.
find "$work/source" -type f -empty -delete
here=$(cd "$(dirname "$0")" && pwd)
[ -z "$probe" ] && exec "$here/run_guest.sh" "$checker" "$work/disc.img" "$work/source" "$bus" "$work"
TVX_GUEST_PROBE=$probe "$here/run_guest.sh" "$checker" "$work/disc.img" "$work/source" "$bus" "$work"
fail() { echo "qemu harness: $*" >&2; exit 1; }
. "$here/drive_reports.sh"
rm -f "$work/report-$bus.json"
extract_report "$work/console-$bus.log" "qemu-$bus" "$work/report-$bus.json" ||
    fail "no drive report came out of the guest (see $work/console-$bus.log)"
check_report "$work/report-$bus.json" "$src/tests/data/drive-reports/qemu-$bus.json" ||
    fail "the $bus drive's report changed"
