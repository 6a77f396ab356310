#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test.
# Extra arguments go to cmake (e.g. -DKETCH_SANITIZE=ON); $KETCH_BUILD picks
# the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh --tests
tools/build.sh "$@"
ctest --test-dir "${KETCH_BUILD:-build}" --output-on-failure -j2 --timeout 600
