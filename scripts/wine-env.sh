# Shared by the demo and the tests: who runs Wine, where its prefixes live, and the template prefix.
#
# Wine runs as an ordinary user, never as root: as root it opens read-only files for writing
# (root ignores the permission bits that carry the read-only attribute), so read-only targets
# would behave unlike Windows. Started as root, the scripts run Wine as the user "tolvtest".
# Every prefix is a copy of one template made once (wineboot takes ~10 s, a copy under 1 s): a
# 32-bit one for most rows, and a 64-bit one (TOLV_ARCH=win64) for what only 64-bit Windows shows.

TOLV_USER=$(id -un)
[ "$(id -u)" -eq 0 ] && TOLV_USER=tolvtest
TOLV_WORK=${TOLVANIX_TEST_WORK:-/tmp/tolvanix-test-$TOLV_USER}
TOLV_TEMPLATE=$TOLV_WORK/template
TOLV_TEMPLATE64=$TOLV_WORK/template64

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

# tolv_as_user PREFIX COMMAND...: runs COMMAND as the Wine user with that prefix. An existing
# prefix says its own architecture (Wine refuses a WINEARCH that differs); a new one is win32
# unless TOLV_ARCH says win64.
tolv_as_user() {
  local prefix=$1 arch=${TOLV_ARCH:-win32}
  shift
  if [ -f "$prefix/system.reg" ]; then
    arch=win32
    grep -qs '^#arch=win64' "$prefix/system.reg" && arch=win64
  fi
  # A 64-bit prefix is started with the 64-bit loader, which starts 32-bit programs itself;
  # Debian's "wine" tries the 32-bit loader first.
  if [ "$arch" = win64 ]; then
    case $1 in
      wine) shift; set -- /usr/lib/wine/wine64 "$@" ;;
      wineboot) set -- /usr/lib/wine/wine64 "$@" ;;
    esac
  fi
  local envs=(HOME="$TOLV_WORK" WINEPREFIX="$prefix" WINEARCH=$arch WINEDEBUG="${WINEDEBUG:--all}"
    DISPLAY="${DISPLAY:-}" TZ="${TZ:-UTC}" PATH="$PATH" LANG=C.UTF-8)
  [ -n "${WINEDLLOVERRIDES:-}" ] && envs+=(WINEDLLOVERRIDES="$WINEDLLOVERRIDES")
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u tolvtest -- env -i "${envs[@]}" "$@"
  else
    env -i "${envs[@]}" "$@"
  fi
}

# tolv_ensure_template [win64]: makes the template prefix once; concurrent callers wait for the
# first one.
tolv_ensure_template() {
  local arch=${1:-win32} template=$TOLV_TEMPLATE
  [ "$arch" = win64 ] && template=$TOLV_TEMPLATE64
  tolv_ensure_user
  (
    flock 9
    if [ ! -f "$template/.ready" ]; then
      rm -rf "$template"
      TOLV_ARCH=$arch WINEDLLOVERRIDES="mscoree,mshtml=" tolv_as_user "$template" wineboot -i \
        >"$template.log" 2>&1 || true
      if [ ! -f "$template/system.reg" ]; then
        echo "wine-env: no $arch template prefix; wineboot said:" >&2
        tail -n 5 "$template.log" >&2
        exit 1
      fi
      tolv_as_user "$template" wineserver -w
      tolv_as_user "$template" touch "$template/.ready"
    fi
  ) 9>"$TOLV_WORK/.$(basename "$template").lock"
}

# tolv_new_prefix DIR [win64]: a fresh copy of that template at DIR, owned by the Wine user.
tolv_new_prefix() {
  local template=$TOLV_TEMPLATE
  [ "${2:-win32}" = win64 ] && template=$TOLV_TEMPLATE64
  tolv_ensure_template "${2:-win32}"
  rm -rf "$1"
  tolv_as_user "$1" cp -a "$template" "$1"
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
