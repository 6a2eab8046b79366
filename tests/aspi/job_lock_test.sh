#!/bin/bash
# One writing job per drive: two handles of one process on the same virtual DVD+RW image; while
# one burns, the other is refused at once; a holder that is killed releases the drive.
# Usage: job_lock_test.sh <job_lock_probe binary>
set -euo pipefail
probe=$1
work=$(mktemp -d)
holder=
cleanup() { [ -n "$holder" ] && kill -9 "$holder" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/folder"
head -c 600000 /dev/urandom > "$work/folder/data.bin"
export TVX_VIRTUAL_DRIVES="$work/disc.img:dvd+rw:4000" TVX_VIRTUAL_TIMING=fast TMPDIR=$work

# Starts a holder and waits until it is writing. Each holder talks through pipes of its own: a
# pipe that is still open keeps the unread lines of an earlier holder for the next reader.
holds=0
hold() {
    holds=$((holds + 1))
    mkfifo "$work/in$holds" "$work/out$holds"
    "$probe" hold "$work/folder" < "$work/in$holds" > "$work/out$holds" &
    holder=$!
    exec 3> "$work/in$holds" 4< "$work/out$holds"
    read -r line <&4
    [ "$line" = writing ] || { echo "holder said: $line"; exit 1; }
}

# A second process never reaches this drive's job lock: the layer lets one process at a time
# attach a disc image, and the job lock of a drive without a device file is held in its process.

# A killed holder releases the drive.
hold
kill -9 "$holder"
wait "$holder" 2>/dev/null || true
holder=
exec 3>&- 4<&-
"$probe" burn "$work/folder" > "$work/after-kill.txt" || { cat "$work/after-kill.txt"; exit 1; }

# The same image attached twice in one process: one writer at a time.
export TVX_VIRTUAL_DRIVES="$work/disc.img;$work/disc.img"
"$probe" twice "$work/folder" > "$work/twice.txt" || { cat "$work/twice.txt"; exit 1; }
echo "job lock: refused across processes and handles, released by a killed holder"
