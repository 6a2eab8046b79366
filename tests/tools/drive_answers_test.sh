#!/bin/bash
# What a drive's answer costs the disc: one burn with verification per rule of the command
# layer, each judged by tvx's exit and its drive error line, and by what 7z finds on the disc.
# Usage: drive_answers_test.sh <tvx binary>
set -uo pipefail
tvx=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
passed=0 failed=0
bad() { echo "FAILED: $1"; failed=$((failed + 1)); }
command -v 7z > /dev/null || { echo "7z is missing"; exit 1; }

# About 1800 sectors: the 20th WRITE falls well inside the track.
mkdir -p src/docs && head -c 3500000 /dev/urandom > src/docs/blob.bin

# disc: whole = 7z reads the files back as burned; none = 7z finds no volume.
whole() { 7z x -so "$1" docs/blob.bin 2> /dev/null | cmp -s - src/docs/blob.bin; }
none() { ! 7z l "$1" 2> /dev/null | grep -q 'blob.bin'; }

# One rule a line: name | kind | faults | drive habits | options | exit | output must hold | disc
while IFS='|' read -r name kind faults habits options want has disc; do
    [ -z "$name" ] || [ "${name:0:1}" = "#" ] && continue
    img=$work/$passed-$failed.img
    args=(--virtual "$img:$kind:32768${habits:++$habits}")
    for f in $faults; do args+=(--virtual-fault "$f"); done
    # shellcheck disable=SC2086
    "$tvx" "${args[@]}" -v burn-data $options src > out.txt 2>&1
    rc=$?
    if [ "$rc" -ne "$want" ]; then bad "$name: exit $rc, wanted $want"; cat out.txt; continue; fi
    if [ -n "$has" ] && ! grep -qF -- "$has" out.txt; then bad "$name: no '$has'"; cat out.txt; continue; fi
    if ! "$disc" "$img"; then bad "$name: disc is not '$disc'"; cat out.txt; continue; fi
    passed=$((passed + 1))
done << 'EOF_ROWS'
# A busy WRITE on session-at-once media is repeated without a flush, which would close the disc.
busy WRITE, DVD-R|dvd-r|2A@20:sense:02/04/04||--verify|0||whole
busy WRITE, DVD-R DL|dvd-r-dl|2A@20:sense:02/04/07||--verify|0||whole
sequence error on WRITE, DVD-RW|dvd-rw|2A@20:sense:05/2C/00||--verify|0||whole
# Where a flush is harmless it goes first, as growisofs does.
busy WRITE, DVD+R|dvd+r|2A@20:sense:02/04/07||--verify|0||whole
# A reset during writing: the drive lost its cache; never repeated, the disc holds no volume.
reset after a WRITE, DVD+RW|dvd+rw|2A@12:sense:06/29/01||--verify|3|sense key 6, ASC/ASCQ 29/01|none
# A reset ends at once, whatever attention queues behind it.
reset and medium change on a WRITE, DVD-R|dvd-r|2A@20:sense:06/29/00+06/28/00||--verify|3|sense key 6, ASC/ASCQ 29/00|none
# The TEST UNIT READY that clears another attention may find a medium change: it ends the burn.
medium change behind another attention|dvd-rw|5A@1:sense:06/3F/03+06/28/00||--verify|3|command: 00 00 00 00 00 00|none
medium change on the flush before a repeat|dvd+r|2A@20:sense:02/04/07+06/28/00||--verify|3|sense key 6, ASC/ASCQ 28/00|none
medium change before the first WRITE|dvd-rw|53:sense:06/28/00||--verify|3|sense key 6, ASC/ASCQ 28/00|none
# A drive that ignores the test write bit would burn for real: refused, nothing written.
test write not taken|dvd-r||ignores-test-write|-t|3|cannot test write|none
# Busy reads during verification are waited out; a medium error is not.
busy READ while verifying|dvd+r-dl|A8@1:sense:02/04/08 28@1:sense:02/04/01||--verify|0||whole
unreadable sector while verifying|dvd+rw|A8@1:sense:03/11/00||--verify|5||whole
# A CLOSE the drive was too busy to start is repeated; one it refused is not.
busy CLOSE|dvd+r|5B@1:sense:02/04/08||--verify|0||whole
EOF_ROWS

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
