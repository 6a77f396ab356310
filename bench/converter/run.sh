#!/usr/bin/env bash
# Times krun converting a ~50 MB binary INI file against cp copying the text
# that krun wrote, several runs each, and prints the medians and their ratio.
#   bench/converter/run.sh [RUNS]      (build folder: $KETCH_BUILD, default build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${KETCH_BUILD:-build}
runs=${1:-7}
cmake --build "$build" --target krun krun_bench_input >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/converter/krun_bench_input" "$work/big.ini" 50

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

krun_ns=() cp_ns=()
for ((i = 0; i < runs; i++)); do
  rm -f "$work/big.ini.txt" "$work/copy.txt"
  t0=$(now)
  "$build/bin/krun" "$work/big.ini" </dev/null >/dev/null
  t1=$(now)
  cp "$work/big.ini.txt" "$work/copy.txt"
  t2=$(now)
  krun_ns+=($((t1 - t0))) cp_ns+=($((t2 - t1)))
done

text_bytes=$(stat -c %s "$work/big.ini.txt")
krun_med=$(printf '%s\n' "${krun_ns[@]}" | median)
cp_med=$(printf '%s\n' "${cp_ns[@]}" | median)
echo "text written: $text_bytes bytes, $runs runs"
echo "krun runs (ms): $(printf '%s\n' "${krun_ns[@]}" | awk '{printf "%.0f ", $1/1e6}')"
echo "cp runs (ms):   $(printf '%s\n' "${cp_ns[@]}" | awk '{printf "%.0f ", $1/1e6}')"
awk -v k="$krun_med" -v c="$cp_med" 'BEGIN {
  printf "median krun %.1f ms, median cp %.1f ms, ratio krun/cp %.2f (target <= 3)\n", k/1e6, c/1e6, k/c }'
