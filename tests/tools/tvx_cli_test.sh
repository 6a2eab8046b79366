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
: > data/empty.txt

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
if lsdvd v.img 2>/dev/null | grep -c "Title: 01" >/dev/null; then ok "lsdvd reads the burned disc"; else bad "lsdvd"; fi
expect 0 "cat a file" --virtual v.img cat /VIDEO_TS/VIDEO_TS.IFO
if cmp -s out.txt "$sample/VIDEO_TS/VIDEO_TS.IFO"; then ok "cat bytes"; else bad "cat bytes"; fi
expect 0 "get a file" --virtual v.img get /VIDEO_TS/VTS_01_1.VOB vob.out
if cmp -s vob.out "$sample/VIDEO_TS/VTS_01_1.VOB"; then ok "get bytes"; else bad "get bytes"; fi
expect 3 "get a missing file" --virtual v.img get /NOPE.TXT nope.out
contains "missing file named" "/NOPE.TXT: No file or directory with this path"
[ ! -e nope.out ] && ok "nothing left behind" || bad "partial output left"
expect 3 "a second burn on a written DVD-R" --virtual v.img burn-data data
contains "not writable named" "TVX_ERR_DISC_NOT_WRITABLE"

# Other sources.
expect 0 "burn DVD-Video folder" --virtual d.img:dvd+r burn-dvd-video "$sample"
expect 0 "AUDIO_TS was added" --virtual d.img ls /AUDIO_TS/
for path in /AUDIO_TS /AUDIO_TS/; do
    expect 3 "cat $path of a folder" --virtual d.img cat "$path"
    contains "$path named as a folder" "$path is a folder"
done
expect 0 "burn data folder" --virtual data.img:dvd-rw burn-data -l DATA data
expect 0 "nested file reads back" --virtual data.img get /docs/blob.bin blob.out
cmp -s blob.out data/docs/blob.bin && ok "nested bytes" || bad "nested bytes"
expect 0 "an empty file opens by its path" --virtual data.img cat /empty.txt
printf '/list/one.txt=%s\n/list/two.bin=%s\n' "$work/data/hello.txt" "$work/data/docs/blob.bin" > set.txt
expect 0 "burn file set from pairs and a list" --virtual fs.img:dvd+rw burn-files "/a/b/c.txt=$work/data/hello.txt" --list set.txt
expect 0 "file set entry reads back" --virtual fs.img cat /a/b/c.txt
contains "file set content" "hello"
expect 1 "bad file set pair" --virtual fs2.img:dvd-r burn-files "no-equals-sign"
genisoimage -quiet -udf -o image.iso data 2>/dev/null
expect 0 "burn image with verify" --virtual img.img:dvd-r burn-image --verify image.iso
expect 0 "image file reads back" --virtual img.img get /hello.txt hello.out
cmp -s hello.out data/hello.txt && ok "image bytes" || bad "image bytes"
expect 0 "another tool's empty file opens by its path" --virtual img.img cat /empty.txt

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

# CD and BD: burned with verification, every file read back by 7z; the rewritable ones erased.
for kind in bd-r bd-re cd-r cd-rw; do
    expect 0 "verified burn on $kind" --virtual "$kind.img:$kind:65536" burn-data --verify -l DATA data
    rm -rf out7z && 7z x -oout7z "$kind.img" > /dev/null 2>&1 && diff -r data out7z > /dev/null &&
        ok "7z reads $kind back" || bad "7z reads $kind back"
done
expect 0 "erase a BD-RE" --virtual bd-re.img erase
expect 0 "erase a CD-RW" --virtual cd-rw.img erase --full
expect 0 "info after the CD-RW erase" --virtual cd-rw.img info
contains "erased CD-RW is blank" "blank"
expect 0 "eject" --virtual fs.img eject
expect 0 "load" --virtual fs.img load
expect 0 "patch a file on a DVD+RW" --virtual fs.img patch --mode file --file /a/b/c.txt --block 0 --hex 4a454c4c4f
expect 0 "patched file" --virtual fs.img cat /a/b/c.txt
contains "patched bytes" "JELLO"
expect 1 "patch without bytes" --virtual fs.img patch --block 0
# A patch that cannot be done whole is refused before the disc is touched; one that fails part
# way names the sectors that may have changed and, with -v, the drive's sense.
head -c 3000 /dev/urandom > p3k.bin
expect 0 "a 3000-byte file to patch" --virtual pt.img:dvd+rw burn-files "/p.bin=$work/p3k.bin"
cp pt.img pt-before.img
for window in "file --file /p.bin --block 0 --offset 5000" "file --file /p.bin --block 0 --offset 3500" \
    "file --file /p.bin --block 0 --offset 2990" "file --file /p.bin --block 2 --offset 0" \
    "absolute --block 4000000" "partition --block 4000000"; do
    # shellcheck disable=SC2086
    expect 1 "patch past the end refused: $window" --virtual pt.img patch --mode $window --hex 0102030405060708090a0b0c
    contains "refusal says nothing was written" "nothing was written"
done
cmp -s pt.img pt-before.img && ok "refused patches changed nothing" || bad "refused patches changed the disc"
head -c 81920 /dev/zero > zeros.bin
expect 3 "a write-back failing part way" --virtual-fault 2a@2:sense:03/0c/00 --virtual pt.img -v patch --mode absolute --block 100 --from zeros.bin
contains "sectors that may have changed named" "sectors 132 to 139 may have changed"
contains "sense shown with -v" "sense: 70"
# The library waits for a slow drive inside the write-back without a callback: tvx shows the wait.
expect 0 "a slow write-back" --virtual pt.img:dvd+rw+busy-flush-close=3 patch --mode absolute --block 100 --hex 00
contains "the wait is shown" "the drive has taken 2 s"

# Exit codes: command-line errors are 1 whatever the parser's own number would be.
expect 0 "help" --help
for code in 0 1 2 3 4 5; do
    grep -q "^  $code  " out.txt && ok "help lists exit code $code" || bad "help lists exit code $code"
done
expect 1 "no command" ""
expect 1 "unknown command" frobnicate
expect 1 "unknown option" --no-such-option drives
expect 1 "missing argument" --virtual r.img burn-data
expect 1 "not a number" --virtual fs.img patch --block lots --hex 00
expect 1 "value not allowed" --virtual fs.img patch --block 0 --mode sideways --hex 00
expect 1 "excluding options" --virtual fs.img patch --block 0 --hex 00 --from set.txt
for speed in nanx infx 0x 0 -4x 1e3x 0x10 8xx; do
    expect 1 "speed '$speed' refused" --virtual sp.img:dvd-r burn-data -s "$speed" data
done
contains "bad speed named" "bad speed"
expect 0 "nothing written by refused speeds" --virtual sp.img info
contains "refused speeds left the disc blank" "blank"
expect 0 "a speed the drive offers" --virtual sp.img burn-data -q -s 8x data
for bytes in 4 4g +1 -1 "0x4a" "4a5"; do
    expect 1 "hex '$bytes' refused" --virtual fs.img patch --block 0 --hex "$bytes"
done
expect 0 "hex pairs with separators" --virtual fs.img patch --mode file --file /a/b/c.txt --block 0 --hex "4a:45 4c"

# Drives by device; -v is verbose, --verify verifies.
expect 0 "drive by its device" --virtual one.img:dvd-r --virtual two.img:dvd+rw -d virtual:two.img info
contains "second drive chosen" "disc: DVD+RW"
expect 2 "unknown device" --virtual one.img -d /dev/no-such-drive info
expect 2 "index beyond the drives" --virtual one.img -d 3 info
expect 0 "-v after the command is verbose" --virtual vb.img:dvd-r burn-data -v data
contains "phases shown" "phase: writing"
if grep -q "verifying" out.txt; then bad "-v verified"; else ok "-v does not verify"; fi
contains "write phase ends at 100 % on a DVD-R" "writing: 100%"

# Files read to the host: the destination changes only when the whole read succeeded.
echo keep > keep.txt
expect 3 "get of a missing file over an existing one" --virtual v.img get /NOPE.TXT keep.txt
[ "$(cat keep.txt)" = keep ] && ok "existing file untouched" || bad "existing file changed"
ls -a | grep -q 'tvx-' && bad "temporary file left" || ok "no temporary file left"
expect 0 "get over an existing file" --virtual v.img get /VIDEO_TS/VIDEO_TS.IFO keep.txt
cmp -s keep.txt "$sample/VIDEO_TS/VIDEO_TS.IFO" && ok "replaced with the file" || bad "replaced bytes"
ln -s keep.txt link.txt
expect 0 "get through a symbolic link" --virtual v.img get /VIDEO_TS/VIDEO_TS.BUP link.txt
[ -L link.txt ] && cmp -s keep.txt "$sample/VIDEO_TS/VIDEO_TS.BUP" && ok "the link's file replaced" || bad "link replaced"
"$tvx" --virtual v.img cat /VIDEO_TS/VTS_01_1.VOB > /dev/full 2> out.txt
rc=$?
[ $rc -eq 3 ] && ok "cat into a full device fails" || bad "cat into /dev/full (exit $rc)"
contains "write failure named" "writing /VIDEO_TS/VTS_01_1.VOB to standard output failed"
grep -q "reading" out.txt && bad "reported as a read failure" || ok "not a read failure"

for link in dangling loop; do
    [ $link = dangling ] && ln -s nowhere/at/all $link.txt || ln -s $link.txt $link.txt
    expect 3 "get onto a $link symbolic link" --virtual v.img get /VIDEO_TS/VIDEO_TS.IFO $link.txt
    [ -L $link.txt ] && [ ! -e nowhere ] && ok "the $link link stays as it was" || bad "$link link replaced or followed"
done
TVX_TEST_INTERRUPT_AFTER=1 TVX_TEST_INTERRUPT_SIGNAL=USR1 "$tvx" --virtual v.img get /VIDEO_TS/VTS_01_1.VOB usr1.out > out.txt 2>&1
rc=$?
[ $rc -eq 138 ] && ok "SIGUSR1 ends get" || bad "SIGUSR1 get (exit $rc)"
(ulimit -f 1; "$tvx" --virtual v.img get /VIDEO_TS/VTS_01_1.VOB xfsz.out > out.txt 2>&1)
rc=$?
[ $rc -eq 3 ] && ok "get beyond the file size limit fails" || bad "get beyond the size limit (exit $rc)"
contains "size limit named" "File too large"
ls -a | grep -q 'tvx-' && bad "temporary file left by a signal" || ok "no temporary file left by a signal"
[ ! -e usr1.out ] && [ ! -e xfsz.out ] && ok "no output made by an ended get" || bad "ended get made its output"

# Signals: SIGTERM and SIGHUP stop burns and erases like Ctrl-C, and the disc's state is told.
for sig in TERM HUP; do
    TVX_TEST_INTERRUPT_AFTER=2 TVX_TEST_INTERRUPT_SIGNAL=$sig "$tvx" --virtual sig$sig.img:dvd+rw burn-data data > out.txt 2>&1
    rc=$?
    [ $rc -eq 4 ] && ok "SIG$sig stops the burn" || { bad "SIG$sig burn (exit $rc)"; cat out.txt; }
    contains "SIG$sig named" "stopped by SIG$sig"
    contains "disc state after SIG$sig" "disc: the drive reports the DVD+RW blank"
done
expect 0 "a DVD-RW to erase" --virtual er.img:dvd-rw burn-data -q data
TVX_TEST_INTERRUPT_AFTER=1 TVX_TEST_INTERRUPT_SIGNAL=HUP "$tvx" --virtual er.img erase > out.txt 2>&1
rc=$?
[ $rc -eq 4 ] && ok "SIGHUP stops the erase" || { bad "SIGHUP erase (exit $rc)"; cat out.txt; }
contains "erase stop named" "stopped by SIGHUP"
expect 3 "erase of a blank DVD-RW" --virtual blank.img:dvd-rw erase
contains "blank DVD-RW named" "blank DVD-RW: there is nothing to erase"
expect 0 "another DVD-RW to erase" --virtual er2.img:dvd-rw burn-data -q data
expect 3 "an erase the drive refuses at once" --virtual-fault 55:sense:05/24/00 --virtual er2.img erase
contains "refused erase changed nothing" "disc: nothing was erased, the disc is unchanged"
expect 3 "a failed burn says what is on the disc" --virtual-fault 2a@3:sense:03/0C/00 --virtual wf.img:dvd-r burn-data data
contains "write-once state" "disc: the drive reports the DVD-R open and partial: writing ended after"
expect 3 "a missing source is named" --virtual s2.img:dvd-r burn-files "/x=$work/gone.txt"
contains "source named" "source: $work/gone.txt: it does not exist"
mkdir -p odd/sub && echo x > odd/sub/file.txt && mkfifo odd/sub/pipe && ln -s gone odd/dangling
ln -s loop odd/loop && ln -s sub odd/linked
expect 0 "a folder with a pipe and a dangling link burns" --virtual odd.img:dvd+r burn-data odd
contains "pipe named" "left out: odd/sub/pipe (a named pipe)"
contains "dangling link named" "left out: odd/dangling (a symbolic link that leads nowhere)"
contains "link loop named" "left out: odd/loop (a symbolic link in a loop)"
contains "a linked folder's pipe named" "left out: odd/linked/pipe (a named pipe)"
grep -n "left out" out.txt | head -1 | grep -q "^1:" && ok "named before the burn" || bad "named late"

# Machine-readable output.
json_doc() { python3 -c 'import json,sys; d=json.load(open("out.txt")); sys.exit(0 if eval(sys.argv[1]) else 1)' "$1"; }
json_lines() { python3 -c 'import json,sys; L=[json.loads(l) for l in open("out.txt")]; r=L[-1]; sys.exit(0 if eval(sys.argv[1]) else 1)' "$1"; }
check_json() { if "$@" 2>/dev/null; then ok "json: $2"; else bad "json: $2"; cat out.txt; fi; }
"$tvx" --virtual v.img --virtual fs.img drives --json > out.txt 2>/dev/null
check_json json_doc 'len(d["drives"]) == 2 and d["drives"][1]["device"] == "virtual:fs.img"'
"$tvx" --virtual v.img info --json > out.txt 2>/dev/null
check_json json_doc 'd["disc"]["kind"] == "DVD-R" and not d["disc"]["blank"] and d["drive"]["index"] == 0'
"$tvx" --virtual c.img check-video-ts --json "$sample/VIDEO_TS" > out.txt 2>/dev/null
check_json json_doc 'd["fits"] and d["result"] == "TVX_OK" and d["volumeSectors"] > 0'
"$tvx" --virtual j.img:dvd-r burn-data --json --verify data > out.txt 2>/dev/null
check_json json_lines 'r["event"] == "result" and r["result"] == "TVX_OK" and r["exitCode"] == 0 and any(e["event"] == "verify" for e in L) and any(e["event"] == "track-size" and e["value"] == 0 and e["total"] == 0 for e in L) and all(e.get("size") == r["volumeSectors"] for e in L if e["event"] == "write") and any(e["event"] == "write" and e["total"] >= 0x80000 for e in L)'
# Names beyond U+FFFF read back whole; bytes that are no UTF-8 are escaped in JSON.
smile=$(printf '\xf0\x9f\x98\x80')
expect 0 "burn a name beyond U+FFFF" --virtual u.img:dvd+r burn-files "/$smile/x$smile.txt=$work/data/hello.txt"
expect 0 "ls of it" --virtual u.img ls "/$smile/" && contains "listed in UTF-8" "x$smile.txt"
"$tvx" --virtual u.img ls --json "/$smile/" > out.txt 2>/dev/null
check_json json_doc 'd["entries"][0]["name"] == "x\U0001F600.txt"'
notutf8=$(printf 's\xed\xa0\x80')
mkdir "$notutf8" && cp -r "$sample/VIDEO_TS" "$notutf8/"
"$tvx" --virtual c.img check-video-ts --json "$notutf8/VIDEO_TS" > out.txt 2>/dev/null
check_json json_doc 'd["folder"] == "s\udced\udca0\udc80/VIDEO_TS"'
deep=longpaths # every path a burn records opens again
for i in $(seq 12); do deep="$deep/a-folder-name-of-thirty-bytes-$i"; done
mkdir -p "$deep" && echo deep > "$deep/f.txt"
expect 3 "a volume path beyond 259 bytes" --virtual lp.img:dvd+r burn-data longpaths
contains "refused with the rule" "beyond the 259 that a path on the disc may have"
expect 0 "erase of an empty restricted-overwrite DVD-RW" --virtual ro.img:dvd-rw-ro erase
"$tvx" --virtual-fault 2a@1:sense:03/0C/00 --virtual jf.img:dvd-r burn-data --json data > out.txt 2>/dev/null
check_json json_lines 'r["result"] == "TVX_ERR_COMMAND" and r["exitCode"] == 3 and r["lastError"]["location"] > 0 and r["discState"]'
"$tvx" --virtual j.img burn-data --json data > out.txt 2>/dev/null
check_json json_lines 'r["result"] == "TVX_ERR_DISC_NOT_WRITABLE" and r["discState"].startswith("nothing was written")'
"$tvx" --virtual j.img -d 7 erase --json > out.txt 2>/dev/null
check_json json_lines 'r["result"] is None and r["exitCode"] == 2'

# make-image: the volume a burn writes, readable by other tools, equal to a burned one.
expect 0 "make-image of a DVD-Video folder" make-image --dvd-video "$sample" -o dvd.iso -l MOVIE
expect 0 "the same folder burned on a DVD+R" --virtual mp.img:dvd+r burn-dvd-video "$sample" -l MOVIE
sectors=$(( $(stat -c %s dvd.iso) / 2048 ))
"$tvx" --virtual mp.img info --json > out.txt 2>/dev/null
check_json json_doc "d['disc']['usedBlocks'] == $sectors"
python3 "$src/tests/tools/compare_volumes.py" dvd.iso mp.img "$sectors" && ok "image equals the burned volume" || bad "image differs from the burned volume"
lsdvd dvd.iso 2>/dev/null | grep -c "Title: 01" >/dev/null && ok "lsdvd reads the image" || bad "lsdvd on the image"
expect 0 "make-image of a data folder" make-image --data data -o data.iso -l DATA
expect 0 "make-image of a VIDEO_TS folder" make-image --video-ts "$sample/VIDEO_TS" -o vts.iso
expect 0 "make-image of a file set" make-image --files "/a/b/c.txt=$work/data/hello.txt" --list set.txt -o files.iso
for img in dvd.iso data.iso vts.iso files.iso; do
    isoinfo -d -i $img 2>/dev/null | grep -c "Volume size is" >/dev/null && ok "isoinfo $img" || bad "isoinfo $img"
    udfinfo $img > /dev/null 2>&1 && ok "udfinfo $img" || bad "udfinfo $img"
    7z l $img > /dev/null 2>&1 && ok "7z $img" || bad "7z $img"
done
bsdtar -tf data.iso | grep -ci "^hello.txt$" >/dev/null && ok "bsdtar lists the data image" || bad "bsdtar on the data image"
7z x -so data.iso docs/blob.bin 2>/dev/null | cmp -s - data/docs/blob.bin && ok "7z reads a file of the image" || bad "7z file bytes"
bsdtar -tf dvd.iso | grep -ci "VIDEO_TS.IFO" >/dev/null && ok "bsdtar lists the DVD-Video image" || bad "bsdtar on the DVD-Video image"
echo old > old.iso
expect 3 "make-image of a missing folder" make-image --data "$work/missing" -o old.iso
[ "$(cat old.iso)" = old ] && ok "failed make-image leaves the output" || bad "output changed"
ls -a | grep -q '\.old\.iso\.' && bad "temporary files left" || ok "no temporary files left"
expect 1 "make-image needs one source" make-image --data data --video-ts "$sample/VIDEO_TS" -o x.iso

# The man page documents every command the help lists.
man=$src/tools/tvx/tvx.1
"$tvx" --help > out.txt 2>/dev/null
for cmd in $(sed -n '/^Subcommands:/,/^$/p' out.txt | awk 'NR > 1 && NF { print $1 }'); do
    grep -q "^\.SS \"\?$(echo "$cmd" | sed 's/-/\\\\-/g')\b" "$man" && ok "man page: $cmd" || bad "man page lacks $cmd"
done
if command -v groff > /dev/null; then
    warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z "$man" 2>&1)
    [ -z "$warnings" ] && ok "man page renders cleanly" || bad "man page: $warnings"
fi

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
