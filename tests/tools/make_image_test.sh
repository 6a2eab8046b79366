#!/bin/bash
# tvx make-image as a drop-in for genisoimage: its options, standard output, and sources that
# cannot be recorded, refused alike by make-image and by a burn, naming the entry and the rule.
# Usage: make_image_test.sh <tvx binary> <source dir>
set -uo pipefail
tvx=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
compare="python3 $src/tests/tools/compare_volumes.py"
passed=0 failed=0

ok() { echo "ok: $1"; passed=$((passed + 1)); }
bad() { echo "FAILED: $1"; failed=$((failed + 1)); }
# run <exit code> <description> <tvx args...>: output goes to out.txt
run() {
    local want=$1 what=$2; shift 2
    "$tvx" "$@" > out.txt 2>&1
    local rc=$?
    if [ $rc -eq "$want" ]; then ok "$what"; else bad "$what (exit $rc, wanted $want)"; cat out.txt; fi
}
has() { if grep -qF -- "$2" out.txt; then ok "$1"; else bad "$1 (no '$2')"; cat out.txt; fi; }
# listed <image> <7z listing pattern>: whether 7z lists a path that matches (a grep pattern)
listed() { 7z l -ba "$1" 2>/dev/null | awk '{ print $NF }' | grep -qx -- "$2"; }

mkdir -p tree/docs/deep tree/cache extra/sub
echo a > tree/a.txt && echo b > tree/docs/b.txt && echo c > tree/docs/deep/c.txt
echo old > tree/a.bak && echo old > tree/docs/deep/c.bak && echo x > tree/cache/x.tmp
echo e > extra/e.txt && echo s > extra/sub/s.txt
echo "/listed.txt=$work/tree/a.txt" > list.txt
mkdir -p empty other && echo e2 > other/e.txt

# Each option against the listing of its image: what must be there (+) and what must not (-).
while IFS='|' read -r what args expect; do
    eval "set -- $args"
    run 0 "$what" make-image "$@" -o opt.iso
    for item in $expect; do
        path=${item:1}
        if [ "${item:0:1}" = + ]; then
            listed opt.iso "$path" && ok "$what: lists $path" || bad "$what: lacks $path"
        else
            listed opt.iso "$path" && bad "$what: lists $path" || ok "$what: leaves out $path"
        fi
    done
done <<'CASES'
a folder as the positional source|tree|+a.txt +docs/deep/c.txt +a.bak
--data as before|--data tree|+a.txt +docs/b.txt
--exclude on names at any depth|tree --exclude '*.bak'|+a.txt +docs/deep/c.txt -a.bak -docs/deep/c.bak
--exclude on a path, repeated|tree --exclude 'docs/deep' --exclude cache|+docs/b.txt -docs/deep -docs/deep/c.txt -cache/x.tmp
--exclude with '*' inside one folder only|tree --exclude 'docs/*.txt'|+a.txt +docs/deep/c.txt -docs/b.txt
a folder grafted into a file set|--files /docs=extra /top.txt=tree/a.txt|+docs/e.txt +docs/sub/s.txt +top.txt
a graft and a list together|--files /x/y=extra --list list.txt|+x/y/sub/s.txt +listed.txt
an empty folder grafted|--files /e=empty /a.txt=tree/a.txt|+e +a.txt
two folders grafted at one place|--files /d=extra /d=empty|+d/e.txt +d/sub/s.txt
CASES

run 0 "-V is the label" make-image -V MYLABEL tree -o label.iso
isoinfo -d -i label.iso 2>/dev/null | grep -q "^Volume id: MYLABEL$" && ok "-V label recorded" || bad "-V label"
udfinfo label.iso 2>/dev/null | grep -q "^label=MYLABEL$" && ok "-V label in UDF" || bad "-V label in UDF"
run 3 "a graft that brings a name twice" make-image --files /d=extra /d=other -o x.iso
has "the second entry named" "source: $work/other/e.txt: the volume already holds an entry of that name there"
run 1 "two sources refused" make-image tree --data tree -o x.iso
run 1 "pairs need --files" make-image --data tree /a=tree/a.txt -o x.iso

# Standard output: the same volume as a file, nothing left beside it.
run 0 "to a file" make-image --dvd-video "$src/examples/sample-dvd" -l MOVIE -o file.iso
"$tvx" make-image --dvd-video "$src/examples/sample-dvd" -l MOVIE -o - > piped.iso 2> out.txt \
    && ok "to standard output" || bad "to standard output"
[ "$(stat -c %s piped.iso)" = "$(stat -c %s file.iso)" ] && ok "same size" || bad "sizes differ"
$compare piped.iso file.iso && ok "same volume through a pipe" || bad "pipe volume differs"
"$tvx" make-image tree -o - | cat > through-cat.iso && listed through-cat.iso a.txt \
    && ok "a pipe reader gets the volume" || bad "volume through cat"
run 3 "a write that fails" make-image tree -o /dev/full
has "the write failure named" "writing /dev/full failed: No space left on device"
run 1 "--json and -o - refused" make-image tree --json -o -
[ -z "$(ls -a | grep '\.tvx-')" ] && ok "no temporary files" || bad "temporary files left"

# Killed at any moment (SIGKILL: no handler runs), make-image leaves the old output or the whole
# new one under the output's name, and no temporary file beside it.
mkdir -p big && head -c $((48 << 20)) /dev/urandom > big/data.bin
"$tvx" make-image -q big -o whole.iso || bad "make-image of big"
for delay in 0 0.02 0.05 0.1 0.2 0.4; do
    echo old > killed.iso
    "$tvx" make-image -q big -o killed.iso & pid=$!
    sleep $delay; kill -9 $pid 2>/dev/null; wait $pid 2>/dev/null
    { [ "$(cat killed.iso 2>/dev/null | head -c 4)" = "old" ] || $compare killed.iso whole.iso > /dev/null 2>&1; } &&
        [ -z "$(ls -a | grep '\.tvx-')" ] && ok "killed after ${delay}s: old or whole, nothing left" ||
        bad "killed after ${delay}s: $(ls -a | grep '\.tvx-' | tr '\n' ' ')"
done

# Names at the limit: recorded and read by other tools; beyond it refused by make-image and by a
# burn alike, naming the entry and the rule.
long254=$(printf 'n%.0s' $(seq 254)) long255=$(printf 'n%.0s' $(seq 255))
wide127=$(printf '\xc4\x80%.0s' $(seq 127))
mkdir -p fits/sub tooLong loop/in && echo x > "fits/sub/$long254" && echo x > "fits/$wide127"
echo x > "tooLong/$long255" && ln -s .. loop/in/up && echo x > loop/in/f.txt
ln -s nowhere dangling
run 0 "the longest names are recorded" make-image fits -o fits.iso
listed fits.iso "sub/$long254" && ok "7z lists 254 Latin-1 characters" || bad "7z: 254 characters"
listed fits.iso "$wide127" && ok "7z lists 127 characters beyond Latin-1" || bad "7z: 127 wide characters"
udfinfo fits.iso > /dev/null 2>&1 && ok "udfinfo reads the long names" || bad "udfinfo on long names"
n=0
while IFS='|' read -r what source entry rule; do
    n=$((n + 1)) && eval "entry=$entry"
    run 3 "make-image: $what" make-image $source -o refused.iso
    has "make-image names $what" "source: $work/$entry: $rule"
    [ ! -e refused.iso ] && ok "make-image: nothing written for $what" || bad "output left for $what"
    run 3 "burn: $what" --virtual "b$n.img:dvd+r" burn-data $source
    has "burn names $what" "source: $work/$entry: $rule"
done <<'CASES'
a name of 255 characters|tooLong|tooLong/$long255|its name needs 256 bytes as a UDF File Identifier, which holds 255
a link back to its folder|loop|loop/in/up|it leads back to a folder that holds it
CASES
run 3 "a dangling link as a file-set source" make-image --files "/d.txt=$work/dangling" -o refused.iso
has "dangling link named" "source: $work/dangling: it is a symbolic link that leads nowhere"

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
