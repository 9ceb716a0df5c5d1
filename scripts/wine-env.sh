# Shared by the demo and the tests: who runs Wine, where its prefixes live, and the template prefix.
#
# Wine runs as an ordinary user, never as root: as root it opens read-only files for writing
# (root ignores the permission bits that carry the read-only attribute), so read-only targets
# would behave unlike Windows. Started as root, the scripts run Wine as the user "tolvtest".
# Every prefix is a copy of one template made once (wineboot takes ~10 s, a copy under 1 s).

TOLV_USER=$(id -un)
[ "$(id -u)" -eq 0 ] && TOLV_USER=tolvtest
TOLV_WORK=${TOLVANIX_TEST_WORK:-/tmp/tolvanix-test-$TOLV_USER}
TOLV_TEMPLATE=$TOLV_WORK/template

# Some machines cannot run 32-bit Linux programs at all (the kernel refuses them with "Exec
# format error"), and with them Debian's 32-bit Wine loader: no 32-bit Windows program runs
# there. The tests that need one say so and are skipped (exit 77), never passed.
TOLV_SKIP=77
tolv_can_run32() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}
tolv_why_no32="this machine cannot run 32-bit programs (/usr/lib/wine/wine: Exec format error), so no 32-bit Windows program runs under Wine here"

tolv_ensure_user() {
  if [ "$(id -u)" -eq 0 ] && ! id tolvtest >/dev/null 2>&1; then
    useradd --system --create-home --shell /bin/bash tolvtest
  fi
  mkdir -p "$TOLV_WORK"
  [ "$(id -u)" -eq 0 ] && chown tolvtest: "$TOLV_WORK"
  return 0
}

# tolv_as_user PREFIX COMMAND...: runs COMMAND as the Wine user with that prefix.
tolv_as_user() {
  local prefix=$1
  shift
  local envs=(HOME="$TOLV_WORK" WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
    DISPLAY="${DISPLAY:-}" TZ="${TZ:-UTC}" PATH="$PATH" LANG=C.UTF-8)
  [ -n "${WINEDLLOVERRIDES:-}" ] && envs+=(WINEDLLOVERRIDES="$WINEDLLOVERRIDES")
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u tolvtest -- env -i "${envs[@]}" "$@"
  else
    env -i "${envs[@]}" "$@"
  fi
}

# Makes the template prefix once; concurrent callers wait for the first one.
tolv_ensure_template() {
  tolv_ensure_user
  (
    flock 9
    if [ ! -f "$TOLV_TEMPLATE/.ready" ]; then
      rm -rf "$TOLV_TEMPLATE"
      WINEDLLOVERRIDES="mscoree,mshtml=" tolv_as_user "$TOLV_TEMPLATE" wineboot -i >/dev/null 2>&1
      tolv_as_user "$TOLV_TEMPLATE" wineserver -w
      tolv_as_user "$TOLV_TEMPLATE" touch "$TOLV_TEMPLATE/.ready"
    fi
  ) 9>"$TOLV_WORK/.template.lock"
}

# tolv_new_prefix DIR: a fresh copy of the template at DIR, owned by the Wine user.
tolv_new_prefix() {
  tolv_ensure_template
  rm -rf "$1"
  tolv_as_user "$1" cp -a "$TOLV_TEMPLATE" "$1"
}

# tolv_start_xvfb: starts one X server for message boxes on a display number it picks itself
# (-displayfd) and prints "DISPLAY PID" once it is ready; the caller ends it by that pid.
tolv_start_xvfb() {
  local file pid
  file=$(mktemp)
  Xvfb -displayfd 9 -ac -nolisten tcp -screen 0 1024x768x24 9>"$file" >/dev/null 2>&1 </dev/null &
  pid=$!
  for _ in $(seq 100); do
    [ -s "$file" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$file" ]; then
    rm -f "$file"
    kill "$pid" 2>/dev/null
    echo "Xvfb did not start" >&2
    return 1
  fi
  echo ":$(tr -d '[:space:]' <"$file") $pid"
  rm -f "$file"
}
