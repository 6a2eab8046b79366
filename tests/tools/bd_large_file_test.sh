#!/bin/bash
# A file over 4 GiB burned onto a virtual BD-R (sparse image) and verified: split in ISO 9660
# extents as on DVD-R DL, read back whole by tvx and 7z. Moves over 4 GiB, hence the label slow.
# Usage: bd_large_file_test.sh <tvx binary>
set -uo pipefail
tvx=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
command -v 7z > /dev/null || { echo "7z is missing"; exit 1; }
fail() { echo "FAILED: $1"; exit 1; }

# Sparse, with data where the extents and the 4 GiB mark split it, and at its end.
size=$((4 * 1024 * 1024 * 1024 + 5 * 1024 * 1024))
mkdir src && truncate -s "$size" src/big.bin && head -c 1000 /dev/urandom > src/small.txt
for at in 0 $((0x3FFFF800 - 30000)) $((4 * 1024 * 1024 * 1024 - 40000)) $((size - 70000)); do
    head -c 70000 /dev/urandom | dd of=src/big.bin bs=10000 seek=$((at / 10000)) conv=notrunc \
        status=none 2> /dev/null || fail "test file"
done

"$tvx" --virtual disc.img:bd-r -q burn-data --verify src || fail "burn with verification"
"$tvx" --virtual disc.img -q get /big.bin got.bin || fail "tvx get"
cmp -s got.bin src/big.bin || fail "tvx reads the file back different"
7z x -so disc.img big.bin 2> /dev/null | cmp -s - src/big.bin || fail "7z reads it back different"
# ISO 9660 holds it in extents of at most 4 GiB - 2048: isoinfo lists one record per extent.
if command -v isoinfo > /dev/null; then
    records=$(isoinfo -l -i disc.img 2> /dev/null | grep -ci ' BIG.BIN;1')
    [ "$records" -eq 2 ] || fail "isoinfo lists $records records of BIG.BIN, wanted 2"
fi
