#!/usr/bin/env bash
# The main job: set up, build, and run the analyser headless. Until the sample
# game exists this stores the settings and shows the program's version.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
tools/build.sh -DKETCH_BENCH=OFF
bin=${KETCH_BUILD:-build}/bin
"$bin/ketch" --version
