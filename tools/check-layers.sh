#!/usr/bin/env bash
# Fails when a source file of the analyser includes a layer above its own.
# The table is the one of docs/architecture.md: a folder, its rank, and the
# highest rank it may include (a folder may always include itself). A file
# belongs to the longest folder of the table that holds it.
#   tools/check-layers.sh [ROOT]     (ROOT: the repository, default: this one)
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root/analyser"

layers='
platform            0 0
platform/db         0 0
platform/db/detail  0 0
converter           0 0
shell               1 1
store               2 2
rules               3 3
ini                 4 4
gamedata            5 5
shell/window        6 1
shell/app           7 7
'

git ls-files -- '*.h' '*.cpp' 2>/dev/null | sort | while read -r file; do
  grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | sed "s|^|$file:|" || true
done | awk -v layers="$layers" '
  BEGIN {
    n = split(layers, rows, "\n")
    for (i = 1; i <= n; i++) {
      if (split(rows[i], f, " ") == 3) { rank[f[1]] = f[2]; reach[f[1]] = f[3] }
    }
    bad = 0
  }
  # The folder of the table that holds path: its longest prefix.
  function layer(path,   best, d) {
    best = ""
    for (d in rank)
      if (index(path, d "/") == 1 && length(d) > length(best)) best = d
    return best
  }
  {
    split($0, p, ":")
    file = p[1]; line = p[2]
    match($0, /"[^"]+"/)
    target = substr($0, RSTART + 1, RLENGTH - 2)
    from = layer(file); to = layer(target)
    if (from == "") { printf "%s: not in any layer of the table\n", file; bad = 1; next }
    if (to == "") { printf "%s:%s: includes \"%s\", which is in no layer of the table\n", file, line, target; bad = 1; next }
    if (to == from) next
    if (to == "platform/db/detail" && from != "platform/db") {
      printf "%s:%s: includes \"%s\": platform/db/detail is private to platform/db\n", file, line, target; bad = 1; next
    }
    if (rank[to] > reach[from]) {
      printf "%s:%s: includes \"%s\": %s (rank %d) may include up to rank %d, %s is rank %d\n",
             file, line, target, from, rank[from], reach[from], to, rank[to]
      bad = 1
    }
  }
  END { exit bad }
'
echo "layers: every include goes down"
