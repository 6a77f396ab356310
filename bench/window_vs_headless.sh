#!/usr/bin/env bash
# The window's run of a game against the headless one, in the same rounds:
# `ketch --game G --log L --overwrite 1 init all` against ketch_window_run
# (the main and findings windows shown, Init DB and All clicked, findings
# listed as they come), each in a fresh program folder, interleaved, REPS
# rounds; wall times, medians, min-max spread and the ratio (target <= 1.2).
#
#   bench/window_vs_headless.sh [BUILD_DIR]     (default build-bench, Release)
#   REPS=5 PRESET=large GAME=/some/game bench/window_vs_headless.sh
#
# The window runs under Xvfb when xvfb-run is there, offscreen otherwise.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
REPS=${REPS:-3}
PRESET=${PRESET:-large}
WORK=${WORK:-$(mktemp -d /tmp/ketch-winbench-XXXXXX)}
JOBS=${JOBS:-2}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" -j "$JOBS" --target ketch krun ketchdb vdgen ketch_window_run >/dev/null
BIN=$BUILD/bin
echo "work folder: $WORK" >&2
if [ -z "${GAME:-}" ]; then
  GAME=$WORK/game-$PRESET
  "$BUILD/tools/vdgen" --preset "$PRESET" "$GAME" >/dev/null
fi

fresh() {  # folder: a program folder as after install
  rm -rf "$1" && mkdir -p "$1/log"
  cp "$BIN/ketch" "$BIN/krun" "$BIN/KETCH.MDB" "$1/"
}
now() { date +%s.%N; }

if command -v xvfb-run >/dev/null; then
  window() { xvfb-run -a -s "-screen 0 1280x800x24" "$@"; }
  platform=xvfb
else
  window() { QT_QPA_PLATFORM=offscreen "$@"; }
  platform=offscreen
fi

run_headless() {
  sync
  fresh "$WORK/h"
  local t0 t1
  t0=$(now)
  env -u DISPLAY -u QT_QPA_PLATFORM "$WORK/h/ketch" --game "$GAME" --log "$WORK/h/log" --overwrite 1 init all >/dev/null
  t1=$(now)
  headless+=("$(echo "$t1 - $t0" | bc)")
}
run_window() {
  sync
  fresh "$WORK/w"
  local t0 t1
  t0=$(now)
  window "$BUILD/bench/shell/ketch_window_run" "$WORK/w" "$GAME" "$WORK/w/log" 2>"$WORK/w.err" >/dev/null
  t1=$(now)
  windowed+=("$(echo "$t1 - $t0" | bc)")
}
rows() { sqlite3 "$1/VD.MDB" "SELECT (SELECT COUNT(*) FROM Sections)+(SELECT COUNT(*) FROM Entries)+(SELECT COUNT(*) FROM [Values])"; }

headless=() windowed=()
for r in $(seq 1 "$REPS"); do
  # Each goes first every other round: the first one of a round warms the
  # file cache for the second.
  if [ $((r % 2)) = 1 ]; then run_headless; run_window; else run_window; run_headless; fi
  # Both runs must have stored the same rows.
  hr=$(rows "$WORK/h") wr=$(rows "$WORK/w")
  [ "$hr" = "$wr" ] || { echo "round $r: headless stored $hr rows, the window $wr" >&2; exit 1; }
  echo "round $r: headless ${headless[-1]} s, window ${windowed[-1]} s ($(tail -1 "$WORK/w.err")), rows $hr" >&2
done

stats() {  # numbers -> "median min max"
  printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2; printf "%.2f %.2f %.2f", m, a[1], a[NR]}'
}
read -r hm hmin hmax <<<"$(stats "${headless[@]}")"
read -r wm wmin wmax <<<"$(stats "${windowed[@]}")"
printf '%-28s %8s %16s\n' "run ($REPS rounds, $platform)" median "spread"
printf '%-28s %7ss %7s-%ss\n' "ketch init all (headless)" "$hm" "$hmin" "$hmax"
printf '%-28s %7ss %7s-%ss\n' "window: Init DB, All" "$wm" "$wmin" "$wmax"
ratio=$(echo "scale=3; $wm / $hm" | bc)
echo "window / headless (medians): $ratio (target <= 1.2)"
