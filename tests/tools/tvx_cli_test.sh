#!/bin/bash
# The tvx command line on virtual drives: every subcommand's success path and its main failures.
# Usage: tvx_cli_test.sh <tvx binary> <source dir>
set -uo pipefail
tvx=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
sample=$src/examples/sample-dvd
passed=0 failed=0

ok() { echo "ok: $1"; passed=$((passed + 1)); }
bad() { echo "FAILED: $1"; failed=$((failed + 1)); }
# expect <exit code> <description> <tvx args...>: output goes to out.txt
expect() {
    local want=$1 what=$2; shift 2
    "$tvx" "$@" > out.txt 2>&1
    local rc=$?
    if [ $rc -eq "$want" ]; then ok "$what"; else bad "$what (exit $rc, wanted $want)"; cat out.txt; fi
}
contains() { if grep -q -- "$2" out.txt; then ok "$1"; else bad "$1 (no '$2')"; cat out.txt; fi; }

# Data to burn.
mkdir -p data/docs/deep && echo "hello" > data/hello.txt && head -c 300000 /dev/urandom > data/docs/blob.bin
echo "nested" > data/docs/deep/n.txt

expect 0 "version" version
contains "version text" "Torvexin 1.3.0.81"
expect 2 "no drive without --virtual" drives
expect 0 "drives lists a virtual recorder" --virtual r.img:dvd-r drives
contains "drive line" "0: virtual:r.img \[-:\] TVX"
expect 1 "bad disc kind" --virtual x.img:floppy drives

# DVD-Video on a DVD-R with verification, then readers and reads.
expect 0 "burn VIDEO_TS with verify" --virtual v.img:dvd-r burn-video-ts --verify -l MOVIE "$sample/VIDEO_TS"
expect 0 "info after burning" --virtual v.img info
contains "disc reported recorded" "disc: DVD-R$"
if lsdvd v.img 2>/dev/null | grep -q "Title: 01"; then ok "lsdvd reads the burned disc"; else bad "lsdvd"; fi
expect 0 "cat a file" --virtual v.img cat /VIDEO_TS/VIDEO_TS.IFO
if cmp -s out.txt "$sample/VIDEO_TS/VIDEO_TS.IFO"; then ok "cat bytes"; else bad "cat bytes"; fi
expect 0 "get a file" --virtual v.img get /VIDEO_TS/VTS_01_1.VOB vob.out
if cmp -s vob.out "$sample/VIDEO_TS/VTS_01_1.VOB"; then ok "get bytes"; else bad "get bytes"; fi
expect 3 "get a missing file" --virtual v.img get /NOPE.TXT nope.out
[ ! -e nope.out ] && ok "nothing left behind" || bad "partial output left"
expect 3 "a second burn on a written DVD-R" --virtual v.img burn-data data
contains "not writable named" "TVX_ERR_DISC_NOT_WRITABLE"

# Other sources.
expect 0 "burn DVD-Video folder" --virtual d.img:dvd+r burn-dvd-video "$sample"
expect 0 "AUDIO_TS was added" --virtual d.img cat /AUDIO_TS/
expect 0 "burn data folder" --virtual data.img:dvd-rw burn-data -l DATA data
expect 0 "nested file reads back" --virtual data.img get /docs/blob.bin blob.out
cmp -s blob.out data/docs/blob.bin && ok "nested bytes" || bad "nested bytes"
printf '/list/one.txt=%s\n/list/two.bin=%s\n' "$work/data/hello.txt" "$work/data/docs/blob.bin" > set.txt
expect 0 "burn file set from pairs and a list" --virtual fs.img:dvd+rw burn-files "/a/b/c.txt=$work/data/hello.txt" --list set.txt
expect 0 "file set entry reads back" --virtual fs.img cat /a/b/c.txt
contains "file set content" "hello"
expect 1 "bad file set pair" --virtual fs2.img:dvd-r burn-files "no-equals-sign"
genisoimage -quiet -udf -o image.iso data 2>/dev/null
expect 0 "burn image with verify" --virtual img.img:dvd-r burn-image --verify image.iso
expect 0 "image file reads back" --virtual img.img get /hello.txt hello.out
cmp -s hello.out data/hello.txt && ok "image bytes" || bad "image bytes"

# Checks that fail before anything is written.
expect 3 "volume larger than the disc" --virtual small.img:dvd-r:100 burn-data data
contains "no space named" "TVX_ERR_NO_SPACE"
expect 0 "small disc is still blank" --virtual small.img info
contains "still blank" "blank"
expect 0 "check-video-ts fits" --virtual c.img:dvd-r check-video-ts "$sample/VIDEO_TS"
contains "fits" "fits"
expect 3 "check-video-ts does not fit" --virtual c2.img:dvd-r:100 check-video-ts "$sample/VIDEO_TS"
genisoimage -quiet -o rom.iso data 2>/dev/null
expect 3 "burning a DVD-ROM" --virtual rom.iso:dvd-rom burn-data data
contains "wrong medium named" "TVX_ERR_DISC_KIND"
expect 3 "test write on DVD+R" --virtual p.img:dvd+r burn-data --test data
contains "mode named" "TVX_ERR_MODE"
expect 3 "missing source folder" --virtual s.img:dvd-r burn-data "$work/missing"
contains "source named" "TVX_ERR_SOURCE"

# Test write, cancel, verify mismatch.
expect 0 "test write on DVD-R" --virtual t.img:dvd-r burn-data --test data
expect 0 "info after the test write" --virtual t.img info
contains "test write left the disc blank" "blank"
TVX_TEST_INTERRUPT_AFTER=3 "$tvx" --virtual cancel.img:dvd+r burn-data data > out.txt 2>&1
rc=$?
[ $rc -eq 4 ] && ok "Ctrl-C stops the burn" || { bad "Ctrl-C (exit $rc)"; cat out.txt; }
contains "cancelled named" "TVX_ERR_CANCELLED"
expect 3 "a stopped disc was closed: not blank" --virtual cancel.img burn-data data
expect 5 "verify mismatch" --virtual-fault a8:malformed --virtual vm.img:dvd-r burn-data --verify data
contains "verify named" "TVX_ERR_VERIFY"
expect 3 "drive error details" --virtual-fault 2a@1:sense:03/0C/00 --virtual we.img:dvd-r burn-data data
# The flush that follows a failed write polls the drive, so the record shows its last refusal.
contains "drive error line" "drive error at step"

# Erase, tray, patch.
expect 0 "quick erase of a burned DVD-RW" --virtual data.img erase
expect 0 "info after erase" --virtual data.img info
contains "erased disc is blank" "blank"
expect 0 "burn again after erasing" --virtual data.img burn-data data
expect 0 "full erase" --virtual data.img erase --full
expect 3 "erase of a DVD-R" --virtual v.img erase
contains "erase wrong kind" "TVX_ERR_DISC_KIND"
expect 0 "eject" --virtual fs.img eject
expect 0 "load" --virtual fs.img load
expect 0 "patch a file on a DVD+RW" --virtual fs.img patch --mode file --file /a/b/c.txt --block 0 --hex 4a454c4c4f
expect 0 "patched file" --virtual fs.img cat /a/b/c.txt
contains "patched bytes" "JELLO"
expect 1 "patch without bytes" --virtual fs.img patch --block 0

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
