#!/bin/bash
# The drive report through the tool, for a recorder of every disc kind: the probe sends nothing
# but questions (the library's own commands, listed apart in the report, add at most the speed
# it sets and puts back), and the report replayed on the virtual recorders' layer gives the same
# report again (times apart), in both spellings of a replayed drive. A verified burn succeeds on
# a replayed drive; a report file that is not one is refused by name.
set -euo pipefail
tvx=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
same() { diff <(sed 's/"ms":[0-9]*//g' "$1") <(sed 's/"ms":[0-9]*//g' "$2") > "$work/diff" ||
           fail "$3: $(head -c 600 "$work/diff")"; }
questions=' 00 03 12 23 25 28 46 4A 51 52 5A 5C A8 AC AD '

# A '+' in the report's path would start another behaviour: the files are named without one.
for kind in dvd-r dvd+r dvd-rw dvd-rw-ro dvd+rw dvd-ram dvd-r-dl dvd+r-dl dvd-rom bd-r bd-r-dl bd-re \
            cd-r cd-rw; do
  name=${kind//+/plus}
  # A pressed disc is an image that exists; the others start blank.
  [ $kind = dvd-rom ] && truncate -s 40M "$work/$name.img" "$work/$name-r.img" "$work/$name-s.img"
  : > "$work/$name.trace"
  TVX_VIRTUAL_TRACE=$work/$name.trace \
    "$tvx" --virtual "$work/$name.img:$kind:20000+page05-descriptor+max-transfer=65536" \
      probe -o "$work/$name.json" || fail "probe $kind"
  grep -q '"format":1' "$work/$name.json" || fail "no format field"
  # Every command that reached the drive is a question, or the speed the library sets.
  outside=$(awk -F' [|] ' '/ [|] / { split($1, b, " "); print b[1] }' "$work/$name.trace" |
              sort -u | while read -r op; do
                [[ "$questions" == *" $op "* ]] || echo "$op"; done | tr '\n' ' ')
  [ -z "$outside" ] || [ "$outside" = "B6 " ] || fail "$kind: commands outside the list: $outside"
  if [ -n "$outside" ]; then
    grep -q '"cdb":"b6[0-9a-f]*","question":false' "$work/$name.json" ||
      fail "$kind: SET STREAMING reached the drive but the report does not list it"
  fi
  "$tvx" --virtual "$work/$name-r.img:$kind:20000+replay=$work/$name.json" \
      probe -o "$work/$name-again.json" || fail "probe of the replayed $kind"
  same "$work/$name.json" "$work/$name-again.json" "replayed $kind"
  "$tvx" --virtual "$work/$name-s.img:report=$work/$name.json" \
      probe -o "$work/$name-spelt.json" || fail "probe of the $kind replayed by report="
  same "$work/$name.json" "$work/$name-spelt.json" "$kind replayed by report="
done

# -d names the drive by index or by image, as tvx does.
"$tvx" --virtual "$work/dvdr.img:dvd-r" --virtual "$work/dvdplusr.img:dvd+r" \
    probe -d "virtual:$work/dvdplusr.img" -o "$work/second.json" || fail "probe -d virtual:"
grep -q '"name":"GET_CONFIGURATION".*"data":"[0-9a-f]\{12\}001b' "$work/second.json" ||
  fail "-d virtual: probed another drive than the DVD+R"
if "$tvx" --virtual "$work/dvdr.img:dvd-r" probe -d "virtual:$work/none.img" \
    > /dev/null 2> "$work/err"; then fail "a drive that is not there was probed"; fi
grep -q "none.img" "$work/err" || fail "the refusal does not name the drive: $(cat "$work/err")"

mkdir "$work/src"
echo hello > "$work/src/a.txt"
head -c 1000000 /dev/zero > "$work/src/b.bin"
"$tvx" -q --virtual "$work/burn.img:report=$work/dvdplusr.json" \
    burn-data "$work/src" --verify || fail "burn on the replayed drive"
[ "$("$tvx" --virtual "$work/burn.img:dvd+r+replay=$work/dvdplusr.json" cat /a.txt)" = hello ] ||
  fail "the burnt file"

echo '{"commands":[]}' > "$work/bad.json"
for spelling in "x.img:dvd+r:20000+replay=$work/bad.json" "y.img:report=$work/bad.json"; do
  if "$tvx" --virtual "$work/$spelling" probe > /dev/null 2> "$work/err"; then
    fail "a bad report was taken ($spelling)"
  fi
  grep -q "bad.json" "$work/err" || fail "the refusal does not name the report: $(cat "$work/err")"
done
echo PASS
