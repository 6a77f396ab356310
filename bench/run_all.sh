#!/usr/bin/env bash
# Runs every benchmark of the whole load on one generated game and prints a
# table: Ketch (`ketch init all` headless), `ketch check` of every file, the
# two Python peers, the bare-insert limit and the parse limit, each REPS
# times, interleaved so that the machine's drift hits them alike; medians,
# min-max spread and ratios.
#
#   bench/run_all.sh [BUILD_DIR]          (default build-bench, Release)
#   REPS=5 PRESET=large GAME=/some/game WORK=/tmp/x bench/run_all.sh
#   ONLY=check bench/run_all.sh           (check and the parse limit alone)
#
# GAME skips the generator and measures that game tree instead.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
REPS=${REPS:-3}
PRESET=${PRESET:-large}
ONLY=${ONLY:-}
WORK=${WORK:-$(mktemp -d /tmp/ketch-bench-XXXXXX)}
JOBS=${JOBS:-2}

if [ ! -x /usr/bin/time ]; then
  apt-get install -y time >/dev/null 2>&1 || sudo apt-get install -y time >/dev/null
fi

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
targets="ketch krun ketchdb ketch_limits"
grep -q "^build tools/vdgen:" "$BUILD/build.ninja" 2>/dev/null && targets="$targets vdgen"
cmake --build "$BUILD" -j "$JOBS" --target $targets >/dev/null

BIN=$BUILD/bin
LIMITS=$BUILD/bench/limits/ketch_limits
mkdir -p "$WORK"
echo "work folder: $WORK" >&2

# The games: the measured one, and the small preset for the memory check.
if [ -n "${GAME:-}" ]; then
  games="$GAME"
else
  [ -x "$BUILD/tools/vdgen" ] || { echo "no vdgen in $BUILD/tools: set GAME=DIR" >&2; exit 1; }
  "$BUILD/tools/vdgen" --preset "$PRESET" "$WORK/game-$PRESET" >&2
  GAME=$WORK/game-$PRESET
  games="$GAME"
  if [ "$PRESET" != small ]; then
    "$BUILD/tools/vdgen" --preset small "$WORK/game-small" >&2
    [ "$ONLY" = check ] || games="$games $WORK/game-small"
  fi
fi

# Every contender starts with the writes of the one before it on disk, so that
# their write-back does not land in its timing.
settle() { sync; }

# A program folder of its own per run, as after install: VD.MDB goes beside ketch.
run_ketch() {  # game tag -> "seconds peakKB rows"
  local game=$1 tag=$2 prog=$WORK/prog-$2
  rm -rf "$prog" "$WORK/log-$tag"
  mkdir -p "$prog" "$WORK/log-$tag"
  cp "$BIN/ketch" "$BIN/krun" "$BIN/KETCH.MDB" "$prog/"
  settle
  /usr/bin/time -f "%e %M" -o "$WORK/time-$tag" \
    "$prog/ketch" --game "$game" --log "$WORK/log-$tag" --overwrite 1 init all >"$WORK/out-$tag" 2>&1
  local rows
  rows=$(sqlite3 "$prog/VD.MDB" 'SELECT (SELECT count(*) FROM Sections)+(SELECT count(*) FROM Entries)+(SELECT count(*) FROM "Values")')
  echo "$(cat "$WORK/time-$tag") $rows"
}

# check stores nothing: the build's program folder is used as it is.
run_check() {  # game -> "seconds peakKB"
  settle
  /usr/bin/time -f "%e %M" -o "$WORK/time-check" "$BIN/ketch" check "$1" >"$WORK/out-check" 2>&1
  cat "$WORK/time-check"
}

# The parse limit reads text: binary files converted once, outside the timing.
list=$WORK/textfiles.txt
: >"$list"
mkdir -p "$WORK/converted"
n=0
while IFS= read -r f; do
  if [ "$(head -c 4 "$f")" = KRUN ]; then
    n=$((n + 1))
    cp "$f" "$WORK/converted/$n.ini"
    "$BIN/krun" "$WORK/converted/$n.ini" >/dev/null 2>&1 || continue
    echo "$WORK/converted/$n.ini.txt" >>"$list"
  else
    echo "$f" >>"$list"
  fi
done < <(find "$GAME" -type f -iname '*.ini' | sort)

results=$WORK/results.tsv
: >"$results"
for rep in $(seq "$REPS"); do
  echo "round $rep of $REPS" >&2
  read -r s kb < <(run_check "$GAME")
  printf 'ketch_check\t%s\t\t%s\n' "$s" "$kb" >>"$results"
  out=$("$LIMITS" parse "$list")
  printf 'parse_limit\t%s\t\t\n' "$(sed 's/.*seconds=\([0-9.]*\).*/\1/' <<<"$out")" >>"$results"
  [ "$ONLY" = check ] && continue
  read -r s kb rows < <(run_ketch "$GAME" main)
  printf 'ketch\t%s\t%s\t%s\n' "$s" "$rows" "$kb" >>"$results"
  for g in $games; do
    [ "$g" = "$GAME" ] && continue
    read -r s kb rows < <(run_ketch "$g" small)
    printf 'ketch_small\t%s\t%s\t%s\n' "$s" "$rows" "$kb" >>"$results"
  done
  settle
  out=$(/usr/bin/time -f "%M" -o "$WORK/time-lim" "$LIMITS" insert "$WORK/prog-main/VD.MDB" "$WORK/limit.db")
  printf 'limit_per_file\t%s\t%s\t%s\n' "$(sed 's/.*seconds=\([0-9.]*\).*/\1/' <<<"$out")" \
    "$(sed 's/rows=\([0-9]*\).*/\1/' <<<"$out")" "$(cat "$WORK/time-lim")" >>"$results"
  settle
  out=$("$LIMITS" insert "$WORK/prog-main/VD.MDB" "$WORK/limit.db" --one-transaction)
  printf 'limit_one_txn\t%s\t%s\t\n' "$(sed 's/.*seconds=\([0-9.]*\).*/\1/' <<<"$out")" \
    "$(sed 's/rows=\([0-9]*\).*/\1/' <<<"$out")" >>"$results"
  for peer in configparser lineloop; do
    settle
    out=$(/usr/bin/time -f "%M" -o "$WORK/time-peer" python3 "$ROOT/bench/peer_$peer.py" "$GAME" "$BIN/krun" "$WORK/peer.db")
    printf 'peer_%s\t%s\t%s\t%s\n' "$peer" "$(sed 's/.*seconds=\([0-9.]*\).*/\1/' <<<"$out")" \
      "$(sed 's/.*rows=\([0-9]*\).*/\1/' <<<"$out")" "$(cat "$WORK/time-peer")" >>"$results"
  done
done

echo
echo "game: $GAME ($(find "$GAME" -type f -iname '*.ini' | wc -l) files, $(du -sm "$GAME" | cut -f1) MB), $REPS rounds, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$results" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    name, s, n, kb = (line.rstrip("\n").split("\t") + [""] * 4)[:4]
    rows.setdefault(name, []).append((float(s), int(n) if n else 0, int(kb) if kb else 0))
def med(name):
    return statistics.median(r[0] for r in rows[name])
labels = {
    "ketch": "ketch init all (headless)",
    "ketch_check": "ketch check, every file",
    "ketch_small": "ketch init all, small preset",
    "limit_per_file": "limit: bare inserts, 1 txn/file",
    "limit_one_txn": "limit: bare inserts, 1 txn, idx after",
    "parse_limit": "parse limit: read + split",
    "peer_configparser": "peer: Python configparser",
    "peer_lineloop": "peer: Python line loop",
}
print(f"{'run':40} {'median s':>9} {'min-max s':>15} {'spread':>7} {'rows':>9} {'rows/s':>9} {'peak MB':>8}")
for name in labels:
    if name not in rows:
        continue
    r = rows[name]
    m = med(name)
    lo, hi = min(x[0] for x in r), max(x[0] for x in r)
    n = r[0][1]
    peak = max(x[2] for x in r) / 1024
    print(f"{labels[name]:40} {m:9.2f} {lo:7.2f}-{hi:<7.2f} {100 * (hi - lo) / m:6.0f}% {n:9d} "
          f"{(n / m if n else 0):9.0f} {(f'{peak:.0f}' if peak else ''):>8}")
print()
print("ratios (medians):")
print(f"  check time / parse limit time (same rounds)           {med('ketch_check') / med('parse_limit'):6.1f}   target <= 3")
if "ketch" not in rows:
    sys.exit(0)
k = med("ketch")
kr = rows["ketch"][0][1] / k
print(f"  ketch rows/s / bare-insert limit rows/s (1 txn/file)  {kr / (rows['limit_per_file'][0][1] / med('limit_per_file')):6.2f}   target >= 0.90")
print(f"  ketch rows/s / one-transaction limit rows/s           {kr / (rows['limit_one_txn'][0][1] / med('limit_one_txn')):6.2f}")
print(f"  configparser peer time / ketch time                   {med('peer_configparser') / k:6.2f}   target >= 2")
print(f"  line-loop peer time / ketch time                      {med('peer_lineloop') / k:6.2f}   target >= 1.4")
print(f"  ketch time / parse limit time                         {k / med('parse_limit'):6.1f}")
if "ketch_small" in rows:
    big = max(x[2] for x in rows["ketch"]) / 1024
    small = max(x[2] for x in rows["ketch_small"]) / 1024
    print(f"  peak memory large / small preset                      {big / small:6.2f}   ({big:.0f} MB vs {small:.0f} MB; target < 200 MB, flat)")
PY
