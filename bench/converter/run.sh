#!/usr/bin/env bash
# Times krun converting a ~50 MB binary INI file against cp copying the text
# that krun wrote, several runs each in turn, and prints the medians of the
# elapsed and the CPU (user + system) times and their ratios.
#   bench/converter/run.sh [RUNS] [FOLDER]
# Build folder: $KETCH_BUILD (default build). FOLDER holds the files (default: a
# fresh temporary folder); the page cache is warm, as for a file just written.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${KETCH_BUILD:-build}
runs=${1:-7}
cmake --build "$build" --target krun krun_bench_input >/dev/null

work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/krun-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/converter/krun_bench_input" "$work/big.ini" 50

TIMEFORMAT='%R %U %S'
median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2)}'; }
for ((i = 0; i < runs; i++)); do
  rm -f "$work/big.ini.txt" "$work/copy.txt"
  { time "$build/bin/krun" "$work/big.ini" </dev/null >/dev/null; } 2>>"$work/krun.times"
  { time cp "$work/big.ini.txt" "$work/copy.txt"; } 2>>"$work/cp.times"
done

echo "text written: $(stat -c %s "$work/big.ini.txt") bytes; $runs runs each"
for tool in krun cp; do
  echo "$tool elapsed (s): $(awk '{printf "%s ", $1}' "$work/$tool.times")"
done
krun_real=$(awk '{print $1}' "$work/krun.times" | median)
cp_real=$(awk '{print $1}' "$work/cp.times" | median)
krun_cpu=$(awk '{print $2 + $3}' "$work/krun.times" | median)
cp_cpu=$(awk '{print $2 + $3}' "$work/cp.times" | median)
awk -v kr="$krun_real" -v cr="$cp_real" -v kc="$krun_cpu" -v cc="$cp_cpu" 'BEGIN {
  printf "median elapsed: krun %.3f s, cp %.3f s, ratio %.2f (target <= 3)\n", kr, cr, kr / cr
  printf "median CPU:     krun %.3f s, cp %.3f s, ratio %.2f\n", kc, cc, (cc > 0 ? kc / cc : 0) }'
