#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and fuzzing need
# (Neovim: a real editor for the language server's test).
# With --tests also the SARIF validator of the tests (the SARIF multitool, from
# the npm registry, about 100 MB) into a folder of its own:
# ${KETCH_TOOLS:-~/.cache/ketch-tools}. The main job does without it.
set -euo pipefail
tests=0
[ "${1:-}" = --tests ] && tests=1
packages=(cmake ninja-build g++ make pkg-config
  libsqlite3-dev sqlite3
  dpkg-dev desktop-file-utils man-db
  qt6-base-dev
  nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  neovim
  xvfb xauth)
[ $tests = 1 ] && ! command -v npm >/dev/null && packages+=(npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

[ $tests = 1 ] || exit 0

# The version is fixed, so that every machine validates alike; CMake finds the
# tool in the same folder (KETCH_SARIF_MULTITOOL).
sarif_version=5.7.0
sarif_dir=${KETCH_TOOLS:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/ketch-tools}/sarif-multitool-$sarif_version
sarif_tool=$sarif_dir/node_modules/@microsoft/sarif-multitool-linux/Sarif.Multitool
if [ ! -x "$sarif_tool" ]; then
  mkdir -p "$sarif_dir"
  npm install --prefix "$sarif_dir" --no-save --no-audit --no-fund --loglevel=error \
    "@microsoft/sarif-multitool@$sarif_version" "@microsoft/sarif-multitool-linux@$sarif_version"
  # npm may leave the package's install script unrun: it only marks the tool executable.
  chmod u+x "$sarif_tool"
fi
