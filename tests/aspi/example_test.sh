#!/bin/bash
# The C example, a host of the shared library alone, burns a folder onto a virtual DVD-R (reached
# through the ASPI layer module) and reads a file back.
# Usage: example_test.sh <burn_and_read binary>
set -euo pipefail
example=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/folder/docs"
echo "Torvexin example" > "$work/folder/README.TXT"
head -c 100000 /dev/urandom > "$work/folder/docs/data.bin"
export TVX_VIRTUAL_DRIVES="$work/disc.img:dvd-r:4000" TVX_VIRTUAL_TIMING=fast TMPDIR=$work
"$example" "$work/folder" /README.TXT EXAMPLE > "$work/out.txt"
grep -q "^drive 0: " "$work/out.txt"
tail -c "$(stat -c %s "$work/folder/README.TXT")" "$work/out.txt" | cmp - "$work/folder/README.TXT"
"$example" "$work/folder" /README.TXT 2> "$work/err.txt" && { echo "a second burn on a written DVD-R must fail"; exit 1; }
grep -q "burn failed: 0xE0000002" "$work/err.txt"
echo "example: burned, read back, and refused a second burn"
