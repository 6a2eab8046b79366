#!/bin/bash
# The manual page as man renders it: every JSON member name of the JSON OUTPUT section comes out
# quoted and whole (not eaten as a macro's argument quotes, not hyphenated at a line's end).
# Skipped (77) without man or groff.
# Usage: man_page_test.sh PAGE
set -euo pipefail
page=$1
if command -v man > /dev/null; then
  render() { MANWIDTH=80 man -l "$page" 2> /dev/null; }
elif command -v groff > /dev/null; then
  render() { groff -man -Tutf8 -rLL=80n "$page" 2> /dev/null; }
else
  echo "skipped: neither man nor groff"; exit 77
fi
fail() { echo "man page test: $*" >&2; exit 1; }

# The section's text on one line, spaces collapsed.
text=$(LC_ALL=C.UTF-8 render | sed -n '/^JSON OUTPUT/,/^[A-Z]/p' | tr -s ' \n' '  ')
[ -n "$text" ] || fail "no JSON OUTPUT section"
grep -qF '{"index"' <<< "$text" || fail 'no {"index" in the rendered section'
# The names, as the source writes them (a quote or roff's \(dq on both sides).
names=$(sed -n '/^\.SH JSON OUTPUT/,/^\.SH /p' "$page" |
  grep -oE '("|\\\(dq)[A-Za-z]+("|\\\(dq)' | sed -E 's/^("|\\\(dq)//; s/("|\\\(dq)$//' | sort -u)
[ "$(wc -l <<< "$names")" -ge 30 ] || fail "only $(wc -l <<< "$names") member names in the source"
for name in $names; do
  grep -qF "\"$name\"" <<< "$text" || fail "\"$name\" does not render"
done
echo "man page: $(wc -l <<< "$names") JSON member names render whole"
