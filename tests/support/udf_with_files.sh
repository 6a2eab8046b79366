#!/bin/bash
# An old volume as mkudffs makes it, with the files of FOLDER in its root: udfclient writes them
# from user space, so no mount is needed. udfclient wants room to spare: BLOCKS >= 8192.
# Usage: udf_with_files.sh IMAGE BLOCKS FOLDER LABEL
set -euo pipefail
image=$1 blocks=$2 folder=$3 label=$4
rm -f "$image"
truncate -s $((blocks * 2048)) "$image"
mkudffs --media-type=dvdram --label="$label" "$image" >/dev/null
# udfclient names the volume it finds; the one just made is the only one.
volume=$(printf 'ls\nquit\n' | udfclient -b 2048 "$image" 2>/dev/null |
    grep -o "[^ ]*:$label:$label:[^ ]*" | head -1) || true
[ -n "$volume" ] || { echo "udfclient finds no volume in $image" >&2; exit 1; }
commands="cd $volume\nlcd $folder\n"
for file in "$folder"/*; do commands+="put ${file##*/}\n"; done
printf "${commands}quit\n" | udfclient -b 2048 -W "$image" >"$image.log" 2>&1
# udfclient's status says nothing about the files: its log does.
if grep -q "discs full\|rror" "$image.log"; then cat "$image.log" >&2; exit 1; fi
rm -f "$image.log"
