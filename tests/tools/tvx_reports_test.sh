#!/bin/bash
# What tvx tells after a failure: the disc's state as the drive reports it after the job, the
# source at fault and why, refusals in plain words, and JSON that every parser reads.
# Usage: tvx_reports_test.sh <tvx binary>
set -uo pipefail
tvx=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
passed=0 failed=0

ok() { echo "ok: $1"; passed=$((passed + 1)); }
bad() { echo "FAILED: $1"; failed=$((failed + 1)); }
# run <exit code> <description> [VAR=value...] -- <tvx args...>: output goes to out.txt
run() {
    local want=$1 what=$2; shift 2
    local envs=()
    while [ "$1" != "--" ]; do envs+=("$1"); shift; done
    shift
    env "${envs[@]}" "$tvx" "$@" > out.txt 2>&1
    local rc=$?
    if [ $rc -eq "$want" ]; then ok "$what"; else bad "$what (exit $rc, wanted $want)"; cat out.txt; fi
}
has() { if grep -q -- "$2" out.txt; then ok "$1"; else bad "$1 (no '$2')"; cat out.txt; fi; }
lacks() { if grep -q -- "$2" out.txt; then bad "$1 ('$2')"; cat out.txt; else ok "$1"; fi; }

mkdir -p data && head -c 3000000 /dev/urandom > data/big.bin && echo hi > data/hi.txt
genisoimage -quiet -udf -o image.iso data 2>/dev/null

# The disc's state after a stop or failure is what the drive reports then. A DVD-R stopped while
# the drive closes it ends closed and whole.
declare -A slow=([dvd-r]=+slow-close=3)
while read -r kind envs expected; do
    run 4 "stop on $kind ($envs)" ${envs//,/ } -- --virtual "s-$kind.img:$kind${slow[$kind]:-}" burn-image image.iso
    has "stop heard at once on $kind" "stop requested"
    has "state of the $kind after the stop" "disc: $expected"
done <<'CASES'
dvd+r TVX_TEST_INTERRUPT_AFTER=3 the drive reports the DVD+R open and partial
dvd+rw TVX_TEST_INTERRUPT_AFTER=3 the drive reports the DVD+RW blank: it holds no volume
dvd-r TVX_TEST_INTERRUPT_ON=wait,TVX_TEST_INTERRUPT_AFTER=2 the drive reports the DVD-R closed and whole
CASES
has "the close is awaited" "the drive is closing the disc, which cannot be interrupted"
run 0 "the stopped DVD-R reads back" -- --virtual s-dvd-r.img get /hi.txt hi.out
cmp -s hi.out data/hi.txt && ok "its file is whole" || bad "its file differs"

# A read-back that fails leaves the written disc as the drive reports it.
for kind in dvd-r dvd+rw; do
    run 5 "read-back fails on $kind" -- --virtual-fault a8:malformed --virtual "v-$kind.img:$kind" burn-image --verify image.iso
    has "written $kind told" "disc: the drive reports the ${kind^^} holding .*, but it was not read back as the source"
done

# With --verify, a write that fails is a failed burn (3), not a difference (5); the drive's answer
# has its text. A disc is called whole only when the drive took all of the volume.
run 3 "write failure with --verify" -- --virtual-fault 2a@5:sense:05/73/03 --virtual w.img:dvd-r burn-image --verify image.iso
has "told before the read-back" "the burn failed before the read-back"
has "power calibration text" "ASC/ASCQ 73/03: POWER CALIBRATION AREA ERROR"
has "how far writing got" "disc: the drive reports the DVD-R open and partial: writing ended after about 128 of"
"$tvx" --virtual-fault 2a@20:sense:02/04/04 --virtual busy.img:dvd-r burn-image --verify image.iso > out.txt 2>&1 ||
    has "a DVD-R whose writing ended early is not whole" "writing ended after about"
lacks "no whole claim after a busy write" "closed and whole"

# A source failure names the source and why, never as a drive error.
ln -s loop.txt loop.txt
long=$work/$(printf 'n%.0s' $(seq 1 4100))
while read -r path why; do
    run 3 "source $why" -- --virtual "src.img:dvd-r" burn-files -v "/x=$path"
    has "source named: $why" "source: $path: $why"
    lacks "no drive error for $why" "drive error"
done <<CASES
$work/gone.txt it does not exist
$work/loop.txt its symbolic links form a loop
$long its path is
CASES
# A file that grows while the drive is busy with the first write: read after it, it is named.
head -c 300000 /dev/urandom > grows.bin
(sleep 1; head -c 100 /dev/zero >> grows.bin) &
run 3 "a source that changed size" -- --virtual "grow.img:dvd+r+write-busy=3" burn-files -v "/a=$work/data/hi.txt" "/b=$work/grows.bin"
wait
has "changed size named" "source: $work/grows.bin: it changed size during the burn (300000 bytes before, 300100 now)"
lacks "no drive error for a changed size" "drive error"
# The same in a folder, whose sizes are taken in the walk that names left-out entries.
mkdir -p growdir && head -c 300000 /dev/urandom > growdir/grows.bin && cp data/hi.txt growdir/
(sleep 1; head -c 100 /dev/zero >> growdir/grows.bin) &
run 3 "a folder's file that changed size" -- --virtual "grow2.img:dvd+r+write-busy=3" burn-data -v growdir
wait
has "changed size named in a folder" "growdir/grows.bin: it changed size during the burn (300000 bytes before, 300100 now)"
run 3 "make-image names the file at fault" -- make-image --files "/x=$work/gone.txt" -o m.iso
has "make-image source" "source: $work/gone.txt: it does not exist"
run 3 "a name that only its cleaning makes equal" -- --virtual clash.img:dvd-r burn-files "/a_b=$work/data/hi.txt" "/a:b=$work/data/big.bin"
has "clash named" "source: $work/data/big.bin: its entry is refused"

# Refusals in plain words.
run 3 "no space" -- --virtual small.img:dvd-r:100 burn-image image.iso
has "sizes given" "the volume needs $(( ($(stat -c %s image.iso) + 2047) / 2048 )) sectors (.* MB), the DVD-R has 100 sectors (0.2 MB) free"
genisoimage -quiet -o rom.iso data 2>/dev/null
run 3 "wrong kind" -- --virtual rom.iso:dvd-rom burn-data data
has "kind found" "the disc is a DVD-ROM; burns need a writable DVD"
run 3 "not writable" -- --virtual s-dvd-r.img burn-data data
has "why not writable" "the DVD-R is not blank (.* sectors recorded) and is closed"
run 3 "test write on a DVD+R" -- --virtual p.img:dvd+r burn-data --test data
has "why the mode" "a DVD+R has no test write"

# JSON: bytes that are no UTF-8 round-trip as escapes, codes as the header writes them, 100 %
# last on success, nothing after the result.
odd=$(printf "$work/caf\xe9.txt")
"$tvx" --virtual j1.img:dvd-r burn-files --json "/x=$odd" > out.txt 2>/dev/null
python3 - "$odd" <<'PY' && ok "json: escaped path round-trips" || { bad "json: escaped path"; cat out.txt; }
import json, os, sys
raw = open("out.txt", "rb").read()
raw.decode("utf-8")  # strict: no raw bytes
r = [json.loads(l) for l in raw.decode().splitlines()][-1]
assert r["codeText"] == "0xE0000005" and r["result"] == "TVX_ERR_SOURCE" and r["code"] == 0xE0000005
assert os.fsencode(r["lastError"]["description"]) == os.fsencode(sys.argv[1])
PY
for kind in dvd-r dvd+rw; do
    "$tvx" --virtual "j-$kind.img:$kind" burn-image --json --verify image.iso > out.txt 2>/dev/null
    python3 - <<'PY' && ok "json: $kind ends at 100 % with the result last" || { bad "json: $kind percent"; cat out.txt; }
import json
L = [json.loads(l) for l in open("out.txt")]
assert L[-1]["event"] == "result" and L[-1]["result"] == "TVX_OK" and L[-1]["codeText"] == "0x00000000"
assert [e["percent"] for e in L if "percent" in e][-1] == 100
PY
done
TVX_TEST_INTERRUPT_AFTER=2 "$tvx" --virtual j-stop.img:dvd+r burn-image --json image.iso > out.txt 2>/dev/null
python3 -c 'import json; L=[json.loads(l) for l in open("out.txt")]; assert L[-1]["event"] == "result" and L[-1]["codeText"] == "0xE000000A"' \
    && ok "json: nothing after the result of a stopped burn" || { bad "json: stopped burn"; cat out.txt; }

"$tvx" --virtual cv.img:dvd-r:100 check-video-ts --json data > out.txt 2>/dev/null
python3 -c 'import json; d=json.load(open("out.txt")); assert d["result"] == "TVX_ERR_NO_SPACE" and d["codeText"] == "0xE0000003" and d["code"] == 0xE0000003' \
    && ok "json: check-video-ts gives the code as the header writes it" || { bad "json: check-video-ts code"; cat out.txt; }

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
