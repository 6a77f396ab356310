# Helpers of the packaging tests: failing with a message, running as a user
# who is not root, and a small sample game.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# as_user CMD...: runs CMD as nobody when root, as oneself otherwise, with
# HOME in the test's folder and no XDG_DATA_HOME (the default per-user folder).
as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid nobody --regid nogroup --clear-groups -- \
      env -u XDG_DATA_HOME HOME="$user_home" QT_QPA_PLATFORM=offscreen "$@"
  else
    env -u XDG_DATA_HOME HOME="$user_home" QT_QPA_PLATFORM=offscreen "$@"
  fi
}

# make_world DIR: DIR/home (the user's home) and DIR/game (the small sample
# game), readable and writable by the user as_user runs as.
make_world() {
  local dir=$1 vdgen=$2
  user_home=$dir/home
  mkdir -p "$user_home" "$dir/log"
  "$vdgen" --preset small --seed 3 "$dir/game" >/dev/null
  chmod 755 "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown -R nobody:nogroup "$user_home" "$dir/log"; fi
}
