#!/bin/bash
# The drive reports kept from drives nobody here wrote (tests/data/drive-reports: QEMU's IDE and
# SCSI drives, CDEmu's DVD+R, BD-R and CD-R writer), replayed on the virtual recorders' layer:
# the library makes of each replayed drive exactly what it made of the real one (drive
# information, capabilities, disc information, write speeds), the probe gets the real drive's
# answers again, and verified burns onto the replayed blank discs (DVD-Video on DVD+R, data on
# BD-R and CD-R) write images that outside readers accept.
# Usage: drive_reports_test.sh <tvx> <source dir>
set -euo pipefail
tvx=$1 src=$2
reports=$src/tests/data/drive-reports
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The library's view, and the answers without what the path or the clock adds.
view() { grep -E '^ *("library":)?\{?"(driveInfo|driveCaps|discInfo|writeSpeeds)"' "$1"; }
answers() { sed -n '/^ "commands":\[$/,/^\]/p' "$1" |
              sed -E 's/"ms":[0-9]+//; s/,"transport":.*$//; s/}?,?$//'; }

# report                            disc in the recorder
table="qemu-ide                        pressed
qemu-scsi                            pressed
cdemu-dvdplusr-blank                 blank
cdemu-dvdplusr-written-reloaded      pressed
cdemu-bdr-blank                      blank
cdemu-cdr-blank                      blank"
while read -r name disc; do
  report=$reports/$name.json
  [ -f "$report" ] || fail "$name: the kept report is missing"
  image=$work/$name.img
  # A pressed disc is an image that exists; its answers come from the report.
  [ "$disc" = pressed ] && truncate -s 4M "$image"
  "$tvx" --virtual "$image:report=$report" probe -o "$work/$name.json" ||
    fail "$name: the replayed drive could not be probed"
  diff <(view "$report") <(view "$work/$name.json") > "$work/diff" ||
    fail "$name: the library sees the replayed drive otherwise: $(head -c 800 "$work/diff")"
  # READs come from the recorder's image, which holds none of the real disc's data.
  diff <(answers "$report" | grep -v '"name":"READ1[02]_') \
       <(answers "$work/$name.json" | grep -v '"name":"READ1[02]_') > "$work/diff" ||
    fail "$name: the replayed drive answers otherwise: $(head -c 800 "$work/diff")"
done <<< "$table"

# Any JSON layout of a report replays as the probe wrote it. A written disc's report is refused
# onto a new image, which could only stand for it as a blank disc.
python3 -m json.tool "$reports/qemu-scsi.json" > "$work/indented.json"
python3 - "$reports/cdemu-dvdplusr-blank.json" "$work" <<'PY'
import json, sys
report = json.load(open(sys.argv[1]))
json.dump(report, open(sys.argv[2] + "/compact.json", "w"), separators=(",", ":"))
for c in report["commands"]:
    if c["name"] == "READ_DISC_INFORMATION":  # the same DVD+R, finalised
        c["data"] = c["data"][:4] + "%02x" % (int(c["data"][4:6], 16) & ~3 | 2) + c["data"][6:]
json.dump(report, open(sys.argv[2] + "/finalised.json", "w"), indent=1)
PY
truncate -s 4M "$work/indented.img"
for layout in indented compact; do
  "$tvx" --virtual "$work/$layout.img:report=$work/$layout.json" info > /dev/null ||
    fail "the $layout report does not replay"
done
for report in "$reports/cdemu-dvdplusr-written-reloaded.json" "$work/finalised.json"; do
  if "$tvx" --virtual "$work/new.img:report=$report" info > /dev/null 2> "$work/err"; then
    fail "$report: a written disc's report was replayed onto a new image"
  fi
  grep -q "$report: the report's disc was written, and its content is not in the report" \
    "$work/err" || fail "the refusal does not say why: $(cat "$work/err")"
  [ ! -e "$work/new.img" ] || fail "a refused report left a new image"
done

for tool in isoinfo udfinfo 7z bsdtar lsdvd; do
  command -v $tool > /dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
mkdir -p "$work/video/AUDIO_TS"
cp -r "$src/examples/sample-dvd/VIDEO_TS" "$work/video/"
"$tvx" -q --virtual "$work/ref.img:dvd+r" burn-dvd-video -l REPLAYED "$work/video" ||
  fail "the reference burn"
"$tvx" -q --virtual "$work/burn.img:report=$reports/cdemu-dvdplusr-blank.json" \
    burn-dvd-video --verify -l REPLAYED "$work/video" || fail "the burn on the replayed DVD+R"
blocks=$(isoinfo -d -i "$work/burn.img" | awk -F': ' '/^Volume size is/ {print $2}')
[ -n "$blocks" ] || fail "the burnt image has no volume"
"$src/tests/qemu/judge_image.sh" "$work/burn.img" $((blocks * 2048)) "$work/ref.img" \
    "$work/video" video "$work/judge" || fail "outside readers refuse the burnt image"
# BD-R and CD-R: a data folder; a BD-R track ends padded to a whole cluster of 32 blocks.
mkdir -p "$work/data/sub"
echo hello > "$work/data/a.txt"
head -c 300000 /dev/urandom > "$work/data/sub/b.bin"
for medium in bd-r:bdr:32 cd-r:cdr:1; do
  IFS=: read -r kind name unit <<< "$medium"
  "$tvx" -q --virtual "$work/ref-$kind.img:$kind" burn-data -l REPLAYED "$work/data" ||
    fail "the reference burn on $kind"
  "$tvx" -q --virtual "$work/$kind.img:report=$reports/cdemu-$name-blank.json" \
      burn-data --verify -l REPLAYED "$work/data" || fail "the burn on the replayed $kind"
  blocks=$(isoinfo -d -i "$work/$kind.img" | awk -F': ' '/^Volume size is/ {print $2}')
  [ -n "$blocks" ] || fail "the burnt $kind image has no volume"
  "$src/tests/qemu/judge_image.sh" "$work/$kind.img" $(((blocks + unit - 1) / unit * unit * 2048)) \
      "$work/ref-$kind.img" "$work/data" data "$work/judge-$kind" $unit ||
    fail "outside readers refuse the burnt $kind image"
done
echo PASS
