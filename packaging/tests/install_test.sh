#!/usr/bin/env bash
# cmake --install into a fresh prefix: the layout and its modes, the desktop
# entry, the manual pages, the shell completion, and the installed ketch run
# by a user who is not root, with its files in the user's own folder.
set -uo pipefail
build=$1 vdgen=$2
. "$(dirname "$0")/common.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/ketch-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"

# The layout.
for f in bin/ketch bin/krun; do [ -x "$prefix/$f" ] || fail "$f is not installed as a program"; done
[ "$(stat -c %a "$prefix/share/ketch/KETCH.MDB")" = 444 ] || fail "share/ketch/KETCH.MDB is not read-only"
[ ! -e "$prefix/bin/KETCH.MDB" ] || fail "KETCH.MDB beside the programs"
[ -f "$prefix/share/icons/hicolor/scalable/apps/ketch.svg" ] || fail "no icon"
for c in ketch krun; do
  [ -f "$prefix/share/bash-completion/completions/$c" ] || fail "no completion for $c"
done

# The desktop entry validates and names the installed program and icon.
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$prefix/share/applications/ketch.desktop" 2>&1) || fail "desktop entry: $out"
  [ -z "$out" ] || fail "desktop entry: $out"
else
  fail "desktop-file-validate is missing (tools/setup.sh installs desktop-file-utils)"
fi
grep -qx 'Exec=ketch' "$prefix/share/applications/ketch.desktop" || fail "desktop entry runs no ketch"

# The manual pages render without a single warning.
for page in ketch krun; do
  gz=$prefix/share/man/man1/$page.1.gz
  [ -f "$gz" ] || fail "no manual page $page.1.gz"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
  LC_ALL=C.UTF-8 man -l "$gz" 2>/dev/null | grep -q "EXIT STATUS" || fail "man $page renders no EXIT STATUS"
done

# The completion offers the commands and the options, and directories after --game.
complete_words() {
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ketch; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$prefix/share/bash-completion/completions/ketch" "$@"
}
[ "$(complete_words ketch --sa)" = --save ] || fail "completion of --sa: $(complete_words ketch --sa)"
[ "$(complete_words ketch --game /g i)" = init ] || fail "completion of a command"
[ "$(complete_words ketch --format j)" = json ] || fail "completion of --format"
complete_words ketch --pa | grep -qx -- --paths || fail "completion of --paths"

# The installed program, as a user who is not root.
make_world "$work" "$vdgen"
ketch=$prefix/bin/ketch
data=$user_home/.local/share/ketch
out=$(as_user "$ketch" --version) || fail "ketch --version: $out"
grep -q 0.9.7 <<<"$out" || fail "version: $out"

out=$(as_user "$ketch" --paths) || fail "ketch --paths: $out"
grep -q "^settings  $data/KETCH.MDB\$" <<<"$out" || fail "--paths settings: $out"
grep -q "^data      $data/VD.MDB\$" <<<"$out" || fail "--paths data: $out"
grep -q "^log       $data/ketch.log\$" <<<"$out" || fail "--paths log: $out"
grep -q "^rules     $prefix/share/ketch/KETCH.MDB (supplied)\$" <<<"$out" || fail "--paths rules: $out"

as_user "$ketch" --game "$work/game" --log "$work/log" --overwrite 1 init all >"$work/out" 2>"$work/err" ||
  fail "installed ketch init all: status $? $(tail -5 "$work/err")"
grep -q '^  files read ' "$work/out" || fail "no summary"
[ -s "$work/log/ketch.log" ] || fail "no log in --log"
[ -f "$data/VD.MDB" ] || fail "no VD.MDB in the user's folder"
[ "$(stat -c %a "$data/KETCH.MDB")" = 644 ] || fail "the user's KETCH.MDB is not writable by the user"
[ "$(stat -c %a "$prefix/share/ketch/KETCH.MDB")" = 444 ] || fail "the supplied KETCH.MDB changed mode"
# The options held for that run only; the stored settings are still empty.
[ "$(sqlite3 "$data/KETCH.MDB" "SELECT VDPath || '|' || LogPath FROM _bc_Settings")" = "|" ] ||
  fail "headless options were saved without --save"

# Options alone are a usage error; with --save they are stored, and the log
# goes to the user's folder when no log folder is set.
as_user "$ketch" --game "$work/game" >/dev/null 2>"$work/err"
[ $? = 1 ] || fail "ketch --game without a command did not end with status 1"
grep -q "no command given" "$work/err" || fail "no message for options alone: $(cat "$work/err")"
as_user "$ketch" --game "$work/game" --save >/dev/null 2>&1 || fail "--save"
as_user "$ketch" -q init all >"$work/out" 2>"$work/err" || fail "run with the saved game: $(cat "$work/err")"
grep -q '^Summary' "$work/out" || fail "-q printed no summary"
[ "$(grep -c . "$work/out")" -lt 40 ] || fail "-q printed the log's text"
[ -s "$data/ketch.log" ] || fail "the default log is not in the user's folder"
[ ! -e /ketch.log ] || [ /ketch.log -ot "$work/game" ] || fail "a log was written to /ketch.log"
exit 0
