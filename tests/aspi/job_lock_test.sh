#!/bin/bash
# One writing job per drive: two handles of one process on the same virtual DVD+RW image; while
# one burns, the other is refused at once; a holder that is killed releases the drive. Another
# process cannot even attach the image meanwhile, and says so.
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
# attach a disc image (it sees no drive and the layer says why), and the job lock of a drive
# without a device file is held in its process.
hold
# Another process cannot attach the image while the holder has it: it sees no drive, and the
# layer says why.
status=0
TVX_VIRTUAL_TRACE="$work/second.trace" "$probe" burn "$work/folder" > "$work/second.txt" \
    2> "$work/second.err" || status=$?
[ "$status" = 2 ] || { echo "second burn ended with $status"; cat "$work/second.txt"; exit 1; }
grep -q "disc.img is in use by another process" "$work/second.err" ||
    { echo "second process said:"; cat "$work/second.err"; exit 1; }
if [ -s "$work/second.trace" ]; then
    echo "the refused process reached the drive:"; cat "$work/second.trace"; exit 1
fi
echo go >&3
exec 3>&-
read -r line <&4 || line="(nothing)"
[ "$line" = "result 0x00000000" ] || { echo "holder ended with: $line"; exit 1; }
wait "$holder" || { echo "holder exited with $?"; exit 1; }
holder=
exec 4<&-

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
