#!/usr/bin/env bash
# The README's queries, in the sqlite3 shell, on the VD.MDB of a real run of
# the small sample game: each runs after the README's ATTACH line and gives
# rows; the ones that look rows up by name use the indexes built at the end of
# all; the link of KETCH.MDB is relative; Lines gives numbers that compare as
# numbers.
set -uo pipefail
bin=$1 vdgen=$2 readme=$3
. "$(dirname "$0")/common.sh"
command -v sqlite3 >/dev/null || fail "sqlite3 is missing (tools/setup.sh installs it)"
work=$(mktemp -d "${TMPDIR:-/tmp}/ketch-queries-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/log"
cp "$bin/ketch" "$bin/krun" "$bin/KETCH.MDB" "$work/bin/"
"$vdgen" --preset small --seed 5 "$work/game" >/dev/null || fail vdgen
"$work/bin/ketch" -q --game "$work/game" --log "$work/log" --overwrite 1 init all >"$work/out" 2>&1 ||
  fail "ketch init all: $(tail -5 "$work/out")"
cd "$work/bin" || fail "no program folder"

[ "$(sqlite3 KETCH.MDB "SELECT group_concat(Connect, ' ') FROM _ketch_Links")" = \
  ";DATABASE=VD.MDB ;DATABASE=VD.MDB ;DATABASE=VD.MDB" ] || fail "links are not relative: $(sqlite3 KETCH.MDB 'SELECT * FROM _ketch_Links')"
for index in FileIDX SectionIDX EntryIDX; do
  [ "$(sqlite3 VD.MDB "SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND name = '$index'")" = 1 ] ||
    fail "no index $index"
done

# The lines the README tells to type, then its queries (the sql blocks of the
# section on querying), one statement per paragraph.
attach=$(awk '/^## Querying VD.MDB/ { on = 1 } on && /^    ATTACH / { sub(/^    /, ""); print; exit }' "$readme")
[ -n "$attach" ] || fail "the README gives no ATTACH line"
awk '/^## Querying VD.MDB/ { on = 1; next } /^## / { on = 0 } on && /^```sql/ { code = 1; next }
     code && /^```/ { code = 0; next } code' "$readme" >"$work/queries.sql"
statements=0
while IFS= read -r -d $'\x01' statement; do
  [ -n "$(grep -v '^--' <<<"$statement" | tr -d '[:space:]')" ] || continue
  statements=$((statements + 1))
  rows=$(printf '%s\n%s\n' "$attach" "$statement" | sqlite3 -bail KETCH.MDB 2>&1) || fail "query $statements: $rows"$'\n'"$statement"
  [ -n "$rows" ] || fail "query $statements gives no rows:"$'\n'"$statement"
  plan=$(printf '%s\nEXPLAIN QUERY PLAN %s\n' "$attach" "$(grep -v '^--' <<<"$statement")" | sqlite3 KETCH.MDB 2>&1)
  printf 'query %d plan:\n%s\n' "$statements" "$plan"
  if grep -q "WHERE Entry = " <<<"$statement"; then
    grep -q "INDEX EntryIDX" <<<"$plan" || fail "query $statements does not use EntryIDX:"$'\n'"$plan"
  fi
  if grep -q "WHERE l.Section = " <<<"$statement"; then
    grep -q "INDEX SectionIDX" <<<"$plan" || fail "query $statements does not use SectionIDX:"$'\n'"$plan"
  fi
  if grep -q "WHERE s.File = " <<<"$statement"; then
    grep -q "INDEX FileIDX" <<<"$plan" || fail "query $statements does not use FileIDX:"$'\n'"$plan"
  fi
done < <(awk 'BEGIN { RS = ""; ORS = "\x01" } { print }' "$work/queries.sql")
[ "$statements" -ge 3 ] || fail "the README has $statements queries"

# Number is a number where the value is one: the largest mass is the largest
# of the numbers, not of the texts; texts and booleans give none.
largest=$(sqlite3 KETCH.MDB "$attach" "SELECT max(Number) FROM Lines WHERE Entry = 'mass'")
expected=$(sqlite3 KETCH.MDB "$attach" \
  "SELECT max(CAST(v.Value AS REAL)) FROM Entries e JOIN \"Values\" v ON v.Link = e.DB_ID WHERE e.Entry = 'mass'")
[ -n "$largest" ] && awk -v a="$largest" -v b="$expected" 'BEGIN { exit !(a + 0 == b + 0) }' ||
  fail "max(Number) of mass is $largest, the values' largest $expected"
[ "$(sqlite3 VD.MDB "SELECT count(*) FROM Lines WHERE Number IS NOT NULL AND typeof(Number) NOT IN ('integer', 'real')")" = 0 ] ||
  fail "Lines.Number holds texts"
[ "$(sqlite3 VD.MDB "SELECT count(*) FROM Lines WHERE Value IN ('True', 'False', 'abc') AND Number IS NOT NULL")" = 0 ] ||
  fail "Lines.Number holds a number for a text"
[ "$(sqlite3 VD.MDB "SELECT count(*) FROM Lines")" = "$(sqlite3 VD.MDB 'SELECT count(*) FROM "Values"')" ] ||
  fail "Lines does not hold every stored value once"
# Positions count from 1 within a line.
[ "$(sqlite3 VD.MDB "SELECT min(Position) FROM Lines")" = 1 ] || fail "positions do not start at 1"
exit 0
