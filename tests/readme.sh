#!/usr/bin/env bash
# What the README tells a new user to type, as it prints it (CTest's test "readme"): `bash
# scripts/demo`, then the "Try it by hand" block read out of README.md and fed to a shell as
# typed, in a home folder (so a Wine prefix) of its own; then the lines the README quotes.
set -u
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
home=$(mktemp -d "${TOLVANIX_E2E_RUN_DIR:-/tmp}/readme.XXXXXX")
trap 'HOME=$home WINEPREFIX=$home/tolvanix-try wineserver -k 2>/dev/null; rm -rf "$home"' EXIT
status=0
fail() { echo "README test: $*" >&2; status=1; }
fresh=(env -u DISPLAY -u WINEPREFIX -u WINEARCH -u WINEDEBUG -u WINEDLLOVERRIDES HOME="$home")
"${fresh[@]}" bash scripts/demo || fail "bash scripts/demo exited $?"
awk '/^## /{in_section = $0 == "## Try it by hand"}
  in_section && /^```/{if (open) exit; open = 1; next} open' README.md >"$home/block.sh"
# Where 32-bit programs cannot run, the block runs as the README's next paragraph says the same
# package runs in a 64-bit prefix: through tolvanix64.exe and tolvanix-check64.exe. `wine` is
# then the 64-bit loader, as Debian's wrapper picks it on a machine without the 32-bit one.
if ! tolv_can_run32; then
  echo "the by-hand block runs in a 64-bit prefix: $tolv_why_no32" >&2
  grep -qF 'runs the same commands through `tolvanix64.exe` and' README.md ||
    fail "the README no longer says how the block runs in a 64-bit prefix"
  sed -i 's/WINEARCH=win32/WINEARCH=win64/; s/tolvanix-check\.exe/tolvanix-check64.exe/g
    s/tolvanix\.exe/tolvanix64.exe/g' "$home/block.sh"
  mkdir "$home/bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec "$WINELOADER" "$@"\n' \
      >"$home/bin/$name"
    chmod +x "$home/bin/$name"
  done
  fresh+=(PATH="$home/bin:$PATH")
fi
# Both shells that read the block (this one, and the one xvfb-run opens, which reads on where
# this one stopped) report a line that fails; the scripts it runs keep to their own rules.
echo '[ "$0" != bash ] || trap '\''echo "README line failed with exit code $?: $BASH_COMMAND"'\'' ERR' \
  >"$home/env.sh"
# To a file, not a pipe: a Wine process left behind would hold a pipe open.
"${fresh[@]}" BASH_ENV="$home/env.sh" bash <"$home/block.sh" >"$home/out.txt" 2>&1
echo "== what the by-hand block printed:" && tr -d '\r' <"$home/out.txt" | tee "$home/seen.txt"

! grep -q '^README line failed' "$home/seen.txt" || fail "a line of the block failed"
summary=$(tr '\n' ' ' <README.md | grep -o '`plan: [^`]*`' | head -n 1 | tr -d '`')
grep -qxF "$summary" "$home/seen.txt" || fail "plan did not end in: $summary"
# From the third summary line (package, plan, verify) to the fourth: the verify after the restart.
replaced=$(awk '/^(package|plan|verify):.* exit code [0-9]+$/ {++n; next}
  n == 3 && /state: replaced( |$)/ {++r} END {print r + 0}' "$home/seen.txt")
[ "$replaced" = 2 ] || fail "verify after the restart: 'state: replaced' $replaced time(s), not 2"
# The quiet runs' whole exit codes as cmd shows them, in order, and the low byte of the second.
codes=$(grep -xE '0|1619' "$home/seen.txt" | tr '\n' ' ')
[ "$codes" = "0 1619 " ] || fail "cmd did not show the quiet runs' whole exit codes 0 and 1619: $codes"
grep -qx "the shell's \$? shows 83" "$home/seen.txt" || fail "the shell's \$? did not show 83"
exit $status
