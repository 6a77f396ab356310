#!/usr/bin/env bash
# Screenshots of the window as a user sees it, under Xvfb: the findings list
# after a run of the small sample game, the progress bar during a run of the
# large one, a cancelled run, Learn's progress and its cancel; at 100% and at
# 200% scale (QT_SCALE_FACTOR=2), and with a dark palette (Fusion). PNG files into OUT (default screens/).
#   bench/window_shots.sh [BUILD_DIR] [OUT]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
OUT=$(realpath -m "${2:-$ROOT/screens}")
WORK=$(mktemp -d /tmp/ketch-shots-XXXXXX)
cmake --build "$BUILD" -j2 --target ketch krun ketchdb vdgen ketch_window_run >/dev/null
mkdir -p "$OUT"
"$BUILD/tools/vdgen" --preset small "$WORK/small" >/dev/null
"$BUILD/tools/vdgen" --preset large "$WORK/large" >/dev/null

shot() {  # name game scale screen [VAR=VALUE...]
  local name=$1 game=$2 scale=$3 screen=$4
  shift 4
  rm -rf "$WORK/prog" && mkdir -p "$WORK/prog/log"
  cp "$BUILD/bin/krun" "$BUILD/bin/KETCH.MDB" "$WORK/prog/"
  env QT_SCALE_FACTOR="$scale" "$@" xvfb-run -a -s "-screen 0 ${screen}x24" \
    "$BUILD/bench/shell/ketch_window_run" "$WORK/prog" "$game" "$WORK/prog/log" 2>>"$WORK/shots.log" || true
  echo "$name: $(tail -1 "$WORK/shots.log")"
}
shot list-100 "$WORK/small" 1 1600x900 KETCH_SHOT_END="$OUT/list-100.png"
shot list-200 "$WORK/small" 2 3200x1800 KETCH_SHOT_END="$OUT/list-200.png"
shot list-dark "$WORK/small" 1 1600x900 KETCH_DARK=1 KETCH_SHOT_END="$OUT/list-dark.png"
shot progress-100 "$WORK/large" 1 1600x900 KETCH_SHOT_AT=300 KETCH_SHOT_DURING="$OUT/progress-100.png" KETCH_CANCEL_AT=310
shot progress-200 "$WORK/large" 2 3200x1800 KETCH_SHOT_AT=300 KETCH_SHOT_DURING="$OUT/progress-200.png" KETCH_CANCEL_AT=310
shot cancelled "$WORK/large" 1 1600x900 KETCH_CANCEL_AT=500 KETCH_SHOT_END="$OUT/cancelled-100.png"
shot cancelled-dark "$WORK/large" 1 1600x900 KETCH_DARK=1 KETCH_CANCEL_AT=500 KETCH_SHOT_END="$OUT/cancelled-dark.png"
shot learn-100 "$WORK/large" 1 1600x900 KETCH_LEARN=1 KETCH_SHOT_AT=300 KETCH_SHOT_DURING="$OUT/learn-100.png" KETCH_CANCEL_AT=310 KETCH_SHOT_END="$OUT/learn-cancelled-100.png"
shot learn-200 "$WORK/large" 2 3200x1800 KETCH_LEARN=1 KETCH_SHOT_AT=300 KETCH_SHOT_DURING="$OUT/learn-200.png" KETCH_CANCEL_AT=310
shot learn-dark "$WORK/large" 1 1600x900 KETCH_LEARN=1 KETCH_DARK=1 KETCH_SHOT_AT=300 KETCH_SHOT_DURING="$OUT/learn-dark.png" KETCH_CANCEL_AT=310 KETCH_SHOT_END="$OUT/learn-cancelled-dark.png"
rm -rf "$WORK"
