#!/bin/bash
# Judges an image file that another drive model wrote: it must hold the volume that our image
# builder streams for the same folder (same size; sectors may differ only outside file data,
# where recording times are), and independent readers must accept it with every file equal to
# its source.
#
# Usage: judge_image.sh <disk file> <image bytes> <reference image> <source folder> <video|data>
#                       <work folder> [blocks a write unit holds]
# A medium written in units (BD: clusters of 32 blocks) ends padded to a whole unit.
set -uo pipefail
disk=$1 bytes=$2 ref=$3 source=$4 kind=$5 work=$6 unit=${7:-1}
rm -rf "$work"
mkdir -p "$work"
image=$work/written.iso
head -c "$bytes" "$disk" > "$image"
rc=0
pass() { echo "PASS host-$kind $*"; }
fail() { echo "FAIL host-$kind $*"; rc=1; }

# The volume's size as our builder laid it out (the ISO 9660 volume space size).
blocks=$(isoinfo -d -i "$ref" | awk -F': ' '/^Volume size is/ {print $2}')
[ -n "$blocks" ] || { echo "FAIL host-$kind: the reference image has no volume size"; exit 1; }
written=$(((blocks + unit - 1) / unit * unit))
if [ $((bytes)) -eq $((written * 2048)) ]; then
    pass "size: $blocks blocks, as streamed ($written written)"
else
    fail "size: $bytes bytes written, the volume has $blocks blocks ($written to write)"
fi

# Sectors that differ from the stream must lie outside every file's data.
isoinfo -l -i "$image" 2>/dev/null |
    awk '/^-/ { match($0, /\[ *[0-9]+ /); s = substr($0, RSTART + 1, RLENGTH - 2) + 0;
                n = $5; print s, s + int((n + 2047) / 2048) }' > "$work/extents"
head -c "$bytes" "$ref" | cmp -l "$image" - 2>/dev/null | awk '{print int(($1 - 1) / 2048)}' |
    uniq > "$work/differing"
outside=$(awk 'NR == FNR { s[NR] = $1; e[NR] = $2; n = NR; next }
               { for (i = 1; i <= n; i++) if ($1 >= s[i] && $1 < e[i]) { print $1; next } }' \
              "$work/extents" "$work/differing" | head -5 | tr '\n' ' ')
if [ ! -s "$work/extents" ]; then
    fail "compare: isoinfo lists no file"
elif [ -n "$outside" ]; then
    fail "compare: file data differs from the stream in sectors $outside"
else
    pass "compare: equal to the stream but for $(wc -l < "$work/differing") metadata sectors" \
        "($(tr '\n' ' ' < "$work/differing" | cut -c1-120))"
fi

# Independent readers.
isoinfo -d -i "$image" > "$work/isoinfo.txt" 2>&1 && isoinfo -f -i "$image" > /dev/null 2>&1 &&
    pass "isoinfo" || fail "isoinfo: $(head -3 "$work/isoinfo.txt")"
udfinfo "$image" > "$work/udfinfo.txt" 2>&1 && grep -q '^blocksize=2048' "$work/udfinfo.txt" &&
    pass "udfinfo" || fail "udfinfo: $(head -3 "$work/udfinfo.txt")"
# 7z through UDF gives the full names: every file equal at its path.
mkdir -p "$work/7z"
if 7z x -tudf -o"$work/7z" "$image" > "$work/7z.log" 2>&1 &&
    diff -r --no-dereference "$source" "$work/7z" > "$work/7z.diff" 2>&1; then
    pass "7z: every file equal to its source"
else
    fail "7z: $(tail -3 "$work/7z.log" "$work/7z.diff" | tr '\n' ' ')"
fi
# bsdtar reads the ISO 9660 bridge (short names): the same contents, file for file.
mkdir -p "$work/bsdtar"
if bsdtar -xf "$image" -C "$work/bsdtar" > "$work/bsdtar.log" 2>&1; then
    sums() { (cd "$1" && find . -type f -exec sha256sum {} + | cut -d' ' -f1 | sort); }
    if [ "$(sums "$source")" = "$(sums "$work/bsdtar")" ]; then
        pass "bsdtar: every file's content equal to its source"
    else
        fail "bsdtar: the files' contents differ from the source"
    fi
else
    fail "bsdtar: $(head -3 "$work/bsdtar.log")"
fi
if [ "$kind" = video ]; then
    lsdvd "$image" > "$work/lsdvd.txt" 2>&1 && grep -q '^Title: 01' "$work/lsdvd.txt" &&
        pass "lsdvd: $(grep -c '^Title:' "$work/lsdvd.txt") titles" ||
        fail "lsdvd: $(head -3 "$work/lsdvd.txt")"
fi
rm -rf "$work/7z" "$work/bsdtar"
exit $rc
