#!/usr/bin/env bash
# The Debian package: made by CPack (dependencies from dpkg-shlibdeps),
# installed with dpkg, its ketch run as nobody (--version, then a headless
# analysis of the small sample game), then purged. Needs root; skipped in an
# instrumented build, whose programs are no package to ship.
set -uo pipefail
build=$1 vdgen=$2
. "$(dirname "$0")/common.sh"
skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "dpkg -i needs root"
case ${KETCH_SANITIZED:-0} in 1 | ON | on | TRUE | true) skip "sanitized build: no package to install" ;; esac
for tool in cpack dpkg dpkg-shlibdeps setpriv; do command -v $tool >/dev/null || skip "$tool is missing"; done
if dpkg-query -W -f='${Status}' ketch 2>/dev/null | grep -q "install ok installed"; then
  skip "a ketch package is installed already; not replacing it"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ketch-deb-XXXXXX")
cleanup() {
  dpkg --purge ketch >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
  fail "cpack: $(tail -20 "$work/cpack.log")"
deb=$(ls "$work"/pkg/ketch_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no .deb: $(tail -20 "$work/cpack.log")"

# The dependencies were found, not written by hand: the Qt and SQLite libraries.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libsqlite3 libqt6core6 libqt6widgets6 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/ketch ./usr/bin/krun ./usr/share/ketch/KETCH.MDB ./usr/share/applications/ketch.desktop \
  ./usr/share/man/man1/ketch.1.gz ./usr/share/bash-completion/completions/ketch; do
  grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done
grep -q '^-r--r--r-- .* ./usr/share/ketch/KETCH.MDB$' <<<"$contents" || fail "KETCH.MDB is not read-only in the package"

dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || fail "dpkg -i: $(cat "$work/dpkg.log")"
make_world "$work" "$vdgen"
out=$(as_user /usr/bin/ketch --version 2>&1) || fail "ketch --version as nobody: $out"
grep -q 0.9.7 <<<"$out" || fail "version: $out"
as_user /usr/bin/ketch --game "$work/game" --log "$work/log" --overwrite 1 init all >"$work/out" 2>"$work/err" ||
  fail "headless run as nobody: status $? $(tail -5 "$work/err")"
grep -q '^  files read ' "$work/out" || fail "no summary: $(tail -5 "$work/out")"
grep -q '^ *binary (converted) *[1-9]' "$work/out" || fail "no binary file converted by the installed krun"
[ -f "$user_home/.local/share/ketch/VD.MDB" ] || fail "no VD.MDB in nobody's folder"

dpkg --purge ketch >"$work/dpkg.log" 2>&1 || fail "dpkg --purge: $(cat "$work/dpkg.log")"
[ ! -e /usr/bin/ketch ] && [ ! -e /usr/share/ketch ] || fail "files left after the purge"
exit 0
