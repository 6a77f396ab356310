#!/usr/bin/env bash
# The main job: set up, build, write the small sample game into a fresh
# folder and analyse it headless. The log box's lines go to a file; the
# screen shows what vdgen planted and ketch's closing summary.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
build=${KETCH_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DKETCH_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target ketch krun ketchdb vdgen
work=$(mktemp -d "${TMPDIR:-/tmp}/ketch-demo-XXXXXX")
mkdir -p "$work/log" "$work/bin"
# A program folder of its own: ketch writes VD.MDB beside its KETCH.MDB,
# and the build's folder stays as built.
cp "$build/bin/ketch" "$build/bin/krun" "$build/bin/KETCH.MDB" "$work/bin/"
echo
"$build/tools/vdgen" --preset small --seed "${KETCH_SEED:-1}" "$work/game"
echo
status=0
"$work/bin/ketch" --game "$work/game" --log "$work/log" --overwrite 1 init all >"$work/ketch.out" || status=$?
if grep -q '^Summary' "$work/ketch.out"; then
  sed -n '/^Summary/,$p' "$work/ketch.out"
else
  tail -n 25 "$work/ketch.out"
fi
echo
echo "game and its planted faults: $work/game (manifest.tsv)"
echo "log:                         $work/log/ketch.log"
echo "data database:               $work/bin/VD.MDB"
exit "$status"
