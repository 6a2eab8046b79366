#!/bin/bash
# tvx's command-line habits: version, mistyped commands, per-command help, speeds as burners
# write them, listing a folder of the disc, and whether a source fits the disc.
# Usage: tvx_habits_test.sh <tvx binary> <source dir>
set -uo pipefail
tvx=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
sample=$src/examples/sample-dvd
passed=0 failed=0
ok() { passed=$((passed + 1)); }
bad() { echo "FAILED: $1"; failed=$((failed + 1)); }

mkdir -p data/docs dv names && echo hello > data/hello.txt && head -c 300000 /dev/urandom > data/docs/blob.bin
for name in "été.txt" "日本語.txt" "a b.txt"; do echo x > "names/$name"; done
cp -r "$sample/VIDEO_TS" dv/ && echo extra > dv/readme.txt
printf '/list/h.txt=%s\n' "$work/data/hello.txt" > set.txt
genisoimage -quiet -udf -o other.iso data 2>/dev/null
"$tvx" --virtual disc.img:dvd+rw burn-data -q data || bad "burning the disc to list"

# One case a line: exit code | text the output must hold | text it must not hold | arguments.
# Output is standard output and standard error together.
while IFS='|' read -r want has hasnt args; do
    [ -z "$want" ] || [ "${want:0:1}" = "#" ] && continue
    eval "set -- $args"
    "$tvx" "$@" > out.txt 2>&1
    rc=$?
    what="tvx $args"
    [ "$rc" -eq "$want" ] || { bad "$what: exit $rc, wanted $want"; cat out.txt; continue; }
    [ -z "$has" ] || grep -qF -- "$has" out.txt || { bad "$what: no '$has'"; cat out.txt; continue; }
    [ -z "$hasnt" ] || ! grep -qF -- "$hasnt" out.txt || { bad "$what: holds '$hasnt'"; continue; }
    ok
done <<'EOF'
# Version at the top level, before or after the global options.
0|Torvexin 1.3.0.81||--version
0|Torvexin 1.3.0.81||-V
0|Torvexin 1.3.0.81||--virtual v.img:dvd-r -d 0 -V
0|Torvexin 1.3.0.81|burn data folder|--virtual v.img:dvd-r burn-data data --version
# Other tools' spellings: taken where they mean ours, else answered (exit 1, nothing done); a
# single-dash word is never split into one-letter options; a command's options before it.
0|p1.iso holds the volume||make-image -dvd-video dv -o p1.iso -V MOVIE -udf
1|-J: not supported: the UDF file system carries long names||make-image -J data -o x.iso
1|-R: not supported: owners and permissions are not recorded||burn-data data -R
1|-b: not supported: no boot images||make-image -b boot.img data -o x.iso
1|-volset: not supported|--output|make-image -volset X data -o x.iso
1|-hide: not supported|Usage|make-image -hide x data -o x.iso
1|-dvd-video: use burn-dvd-video FOLDER||burn-data -dvd-video dv
1|unknown option '-dvd-compatible'|no drive|--virtual p.img:dvd+r burn-data data -dvd-compatible
0|burn data folder: done|Torvexin|--virtual p2.img:dvd+r burn-data data -dvd-compat -V LABEL
0|speed: 4.0x (5540 kB/s)||--virtual p3.img:dvd+r burn-data -v data -speed=4
0|test write: nothing was recorded||--virtual p4.img:dvd-r burn-data data -dry-run
0|test write: nothing was recorded|not expected|--virtual p5.img:dvd-r -s 8 --test burn-data data
0|p6.iso holds the volume||-V LBL make-image data -o p6.iso
1|-s|unknown command|-s 8 drives
1|--label|Torvexin|burn-data data -V
0|--verify|Kinds:|help burn-data
0|burn-dvd-video||help
1|unknown command 'frob'||help frob
2|holds a dvd+rw disc, not the dvd-r given||--virtual disc.img:dvd-r ls
# A mistyped command names the nearest ones; a far one only itself.
1|unknown command 'burn-dat'; did you mean burn-data?||burn-dat data
1|did you mean burn-data?||brun-data data
1|unknown command 'frobnicate'|did you mean|frobnicate
1|did you mean check?||chek
1|did you mean one of burn-video-ts, burn-dvd-video, burn-data, burn-files, burn-image?||burn x
# A command's help: its own options and the global ones, not the whole tool's notes.
0|-q,--quiet|  0  success|burn-data --help
0|--json|burn-video-ts|burn-data --help
0|-d,--drive|Kinds:|ls --help
0|-v,--verbose|--video-ts|erase --help
0|  0  success||--help
# Speeds: a bare number is times DVD 1x, kB/s only with a unit; too fast is lowered.
0|speed: 8.0x (11080 kB/s)||--virtual s1.img:dvd+r burn-data -v -s 8 data
0|speed: 8.0x (11080 kB/s)||--virtual s2.img:dvd+r burn-data -v -s 11080kB data
0|speed: 8.0x (11080 kB/s)||--virtual s3.img:dvd+r burn-data -v -s 8x data
0|speed: 2.4x (3324 kB/s)||--virtual s4.img:dvd+r burn-data -v -s 2.4 data
0|speed: 4.0x (5540 kB/s)||--virtual s5.img:dvd+r burn-data -v -s 5540kb/s data
0|note: speed 50x (69250 kB/s) is beyond the drive's fastest for this disc; writing at 16.0x (22160 kB/s)||--virtual s6.img:dvd+r burn-data -s 50x data
0||note:|--virtual s7.img:dvd+r burn-data -q -s 50 data
0|note: speed 7 (9695 kB/s) is not one the drive offers for this disc; writing at 6.0x (8310 kB/s)||--virtual s10.img:dvd+r burn-data -s 7 data
0|speed: 3.0x (4155 kB/s)|note:|--virtual s11.img:dvd+r burn-data -v -s 3 data
0|speed: the drive's fastest||--virtual s8.img:dvd+r burn-data -v -s max data
1|bad speed '8kBx'||--virtual s9.img:dvd+r burn-data -s 8kBx data
1|bad speed 'kB'||--virtual s9.img:dvd+r burn-data -s kB data
1|bad speed '8 x'||--virtual s9.img:dvd+r burn-data -s "8 x" data
# ls: names (folders end with /), a long listing, JSON, one file, and what is not there.
0|docs/|blob.bin|--virtual disc.img ls
0|hello.txt||--virtual disc.img ls /
0|-         300000  |hello.txt|--virtual disc.img ls -l /docs
0|-              6  |blob.bin|--virtual disc.img ls -l /hello.txt
0|d              0  |-         300000|--virtual disc.img ls -l /
3|/nope: no file or folder with this path||--virtual disc.img ls /nope
3|/hello.txt/: not a folder||--virtual disc.img ls /hello.txt/
3|not a folder on the way||--virtual disc.img ls /hello.txt/x
1|paths on the disc start with /||--virtual disc.img ls docs
3|error: /: |hello|--virtual blank.img:dvd+r ls
0|blob.bin||--virtual other.iso:dvd-rom ls -l /docs/
# check: fits or not, the burn's volume size to the sector.
0|volume: 475 sectors (0.9 MiB), disc: 2298496 sectors (4.38 GiB): fits||--virtual c.img:dvd-r check --video-ts $sample/VIDEO_TS
0|volume: 475 sectors||--virtual c.img:dvd-r check --dvd-video $sample
0|: fits|at most|--virtual c.img:dvd-r check --dvd-video dv
0|: fits||--virtual c.img:dvd-r check --data data
0|: fits||--virtual c.img:dvd-r check --files /a/b.txt=$work/data/hello.txt --list set.txt
3|: does not fit|: fits|--virtual small.img:dvd-r:100 check --data data
3|TVX_ERR_NO_SPACE||--virtual small.img:dvd-r:100 check --video-ts $sample/VIDEO_TS
3|: does not fit|: fits|--virtual edge.img:dvd-r:410 check --data data
3|holds no VIDEO_TS folder||--virtual c.img:dvd-r check --dvd-video data
3|/nope.txt||--virtual c.img:dvd-r check --files /x=$work/nope.txt
3|its entry is refused||--virtual c.img:dvd-r check --files /a=$work/data/hello.txt /a/x=$work/data/hello.txt
1|exactly one of||--virtual c.img:dvd-r check --data data --video-ts data
0|: fits||--virtual c.img:dvd-r check --files "/q/what?.txt=$work/data/hello.txt" "/Q/WHAT?.txt=$work/data/hello.txt"
3|its entry is refused||--virtual c.img:dvd-r check --files "/q/a?.txt=$work/data/hello.txt" "/q/a*.txt=$work/data/hello.txt"
EOF

# JSON documents.
json() { python3 -c 'import json,sys; d=json.load(open("out.txt")); sys.exit(0 if eval(sys.argv[1]) else 1)' "$1" && ok || { bad "json: $1"; cat out.txt; }; }
"$tvx" --virtual disc.img ls --json /docs > out.txt 2>/dev/null
json 'd["folder"] and d["entries"][0]["name"] == "blob.bin" and d["entries"][0]["size"] == 300000 and d["entries"][0]["modified"][:2] == "20"'
"$tvx" --virtual disc.img ls --json > out.txt 2>/dev/null
json 'sorted((e["name"], e["folder"]) for e in d["entries"]) == [("docs", True), ("hello.txt", False)]'
"$tvx" --virtual small.img check --json --data data > out.txt 2>/dev/null
json 'not d["fits"] and d["verdict"] == "does not fit" and d["discSectors"] == 100'

"$tvx" --json drives > out.txt 2>/dev/null
json 'isinstance(d["drives"], list)'
mkdir -p lo && echo x > lo/f.txt && mkfifo lo/pipe && ln -s gone lo/dangling
"$tvx" make-image --json lo -o lo.iso > out.txt 2>/dev/null
json 'd["volumeSectors"] * 2048 == d["volumeBytes"] == __import__("os").path.getsize("lo.iso") and sorted(e["kind"] for e in d["leftOut"]) == ["a named pipe", "a symbolic link that leads nowhere"]'

# SOURCE_DATE_EPOCH: the same bytes from two runs in other zones and seconds, a burn the same
# as make-image, every time the epoch's (the files are newer); without it, the runs differ.
"$tvx" make-image -q data -o now1.iso && sleep 1 && "$tvx" make-image -q data -o now2.iso
! cmp -s now1.iso now2.iso && ok || bad "two runs without SOURCE_DATE_EPOCH are the same"
export SOURCE_DATE_EPOCH=1000000000
TZ=UTC "$tvx" make-image -q -dvd-video dv -o r1.iso && TZ=Asia/Tokyo "$tvx" make-image -q --dvd-video dv -o r2.iso
cmp -s r1.iso r2.iso && ok || bad "make-image with SOURCE_DATE_EPOCH differs between runs"
"$tvx" make-image -q data -o r3.iso && "$tvx" --virtual r.img:dvd+r burn-dvd-video -q dv &&
    "$tvx" --virtual r4.img:dvd-r burn-data -q data
cmp -s -n "$(stat -c %s r1.iso)" r1.iso r.img && cmp -s -n "$(stat -c %s r3.iso)" r3.iso r4.img &&
    ok || bad "a burn with SOURCE_DATE_EPOCH differs from make-image"
"$tvx" --virtual r4.img ls --json > out.txt 2>/dev/null
json 'all(e["modified"] == "2001-09-09T01:46:40+00:00" for e in d["entries"])'
SOURCE_DATE_EPOCH=soon "$tvx" make-image data -o bad.iso > out.txt 2>&1
[ $? -eq 1 ] && grep -qF "SOURCE_DATE_EPOCH 'soon'" out.txt && [ ! -e bad.iso ] && ok || bad "a bad SOURCE_DATE_EPOCH"
unset SOURCE_DATE_EPOCH

# Names beyond ASCII come back as they were burned; times are the files' own.
"$tvx" --virtual names.img:dvd+r burn-data -q names || bad "burning names"
"$tvx" --virtual names.img ls > out.txt 2>&1
[ "$(sort out.txt)" = "$(ls names | sort)" ] && ok || { bad "ls of names beyond ASCII"; cat out.txt; }
"$tvx" --virtual disc.img ls --json > out.txt 2>/dev/null
json 'all(abs(__import__("datetime").datetime.fromisoformat(e["modified"]).timestamp() - __import__("os").stat("data/" + e["name"]).st_mtime) < 2 for e in d["entries"] if not e["folder"])'

# Damaged listings are named, never read past. Each case changes the File Identifier of
# hello.txt in another tool's image: field offset, bytes (little-endian), ls arguments, exit
# code, text wanted.
while IFS='|' read -r field bytes args want text; do
    [ -z "$field" ] && continue
    cp other.iso damaged.iso
    python3 - damaged.iso "$field" "$bytes" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
name = data.find(b"\x08hello.txt")
fid = max(i for i in range(name - 64, name) if data[i:i + 2] == b"\x01\x01")
field, value = int(sys.argv[2]), int(sys.argv[3], 16)
width = 1 if field in (4, 19) else 2 if field == 36 else 4
data[fid + field:fid + field + width] = value.to_bytes(width, "little")
open(sys.argv[1], "wb").write(data)
PY
    eval "set -- $args"
    "$tvx" --virtual damaged.iso:dvd-rom ls "$@" > out.txt 2>&1
    rc=$?
    [ $rc -eq "$want" ] && grep -qF -- "$text" out.txt && ok ||
        { bad "damaged field $field=$bytes, ls $args: exit $rc"; cat out.txt; }
done <<'EOF'
4|00|/|3|listing is damaged
19|ff|/|3|listing is damaged
36|ffff|/|3|listing is damaged
24|fffffff0|-l /|0|(no time)
24|fffffff0|/hello.txt|3|a File Entry cannot be read
EOF

# check's size is the size of the volume make-image writes for the same sources.
for args in "--data data" "--dvd-video dv" "--data dv" "--files /a/b.txt=$work/data/hello.txt /A/c.bin=$work/data/docs/blob.bin --list set.txt"; do
    "$tvx" make-image -q $args -o m.iso > /dev/null 2>&1 || { bad "make-image $args"; continue; }
    exact=$(( $(stat -c %s m.iso) / 2048 ))
    size=$("$tvx" --virtual c.img check --json $args 2>/dev/null |
           python3 -c 'import json,sys; print(json.load(sys.stdin)["volumeSectors"])')
    [ "$size" = "$exact" ] && ok || bad "check $args: $size sectors for a volume of $exact"
done

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
