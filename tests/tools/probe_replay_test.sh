#!/bin/bash
# The drive report through the tool: a report of one make replayed on the virtual recorders'
# layer gives the same report again (times apart) and the same library view, and a verified
# burn succeeds on the replayed drive; a report file that is not one is refused by name.
set -euo pipefail
tvx=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
same() { diff <(sed 's/"ms":[0-9]*//g' "$1") <(sed 's/"ms":[0-9]*//g' "$2") > "$work/diff" ||
           fail "$3: $(head -c 600 "$work/diff")"; }

# A '+' in the report's path would start another behaviour: the files are named without one.
for kind in dvd-r dvd+r dvd-rw dvd+rw; do
  name=${kind//+/plus}
  "$tvx" --virtual "$work/$name.img:$kind:20000+page05-descriptor+max-transfer=65536" \
      probe -o "$work/$name.json" || fail "probe $kind"
  grep -q '"format":1' "$work/$name.json" || fail "no format field"
  "$tvx" --virtual "$work/$name-r.img:$kind:20000+replay=$work/$name.json" \
      probe -o "$work/$name-again.json" || fail "probe of the replayed $kind"
  same "$work/$name.json" "$work/$name-again.json" "replayed $kind"
done

mkdir "$work/src"
echo hello > "$work/src/a.txt"
head -c 1000000 /dev/zero > "$work/src/b.bin"
"$tvx" -q --virtual "$work/burn.img:dvd+r:20000+replay=$work/dvdplusr.json" \
    burn-data "$work/src" --verify || fail "burn on the replayed drive"
[ "$("$tvx" --virtual "$work/burn.img:dvd+r+replay=$work/dvdplusr.json" cat /a.txt)" = hello ] ||
  fail "the burnt file"

echo '{"commands":[]}' > "$work/bad.json"
if "$tvx" --virtual "$work/x.img:dvd+r:20000+replay=$work/bad.json" probe \
    > /dev/null 2> "$work/err"; then fail "a bad report was taken"; fi
grep -q "bad.json" "$work/err" || fail "the refusal does not name the report: $(cat "$work/err")"
echo PASS
