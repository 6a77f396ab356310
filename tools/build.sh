#!/usr/bin/env bash
# Configures and builds into build/ (or $KETCH_BUILD); extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KETCH_BUILD:-build}
cmake -S . -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j2
