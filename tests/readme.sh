#!/usr/bin/env bash
# What the README tells a new user to type, as it prints it: `bash scripts/demo`, then the
# "Try it by hand" block read out of README.md and fed line by line to a shell, as typed, in a
# home folder of its own (so its Wine prefix is new); then the lines the README quotes are
# looked for in what the block printed. CTest runs it as the test "readme".
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
home=$(mktemp -d "${TOLVANIX_E2E_RUN_DIR:-/tmp}/readme.XXXXXX")
# Ends only the Wine session of this test's own prefix.
trap 'HOME=$home WINEPREFIX=$home/tolvanix-try wineserver -k 2>/dev/null; rm -rf "$home"' EXIT
status=0
fail() { echo "README test: $*" >&2; status=1; }
fresh=(env -u DISPLAY -u WINEPREFIX -u WINEARCH -u WINEDEBUG -u WINEDLLOVERRIDES HOME="$home")

"${fresh[@]}" bash scripts/demo || fail "bash scripts/demo exited $?"

awk '/^## /{in_section = $0 == "## Try it by hand"}
  in_section && /^```/{if (open) exit; open = 1; next} open' README.md >"$home/block.sh"
# Each shell of the block (the one that starts it and the one xvfb-run opens) reports a line
# that fails; bash gives a command the rest of a script file it reads from standard input.
echo 'trap '\''echo "README line failed with exit code $?: $BASH_COMMAND"'\'' ERR' >"$home/env.sh"
echo "== the by-hand block, as README.md gives it:" && cat "$home/block.sh"
"${fresh[@]}" BASH_ENV="$home/env.sh" bash <"$home/block.sh" >"$home/out.txt" 2>&1
echo "== what it printed:" && tr -d '\r' <"$home/out.txt" | tee "$home/seen.txt"

! grep -q '^README line failed' "$home/seen.txt" || fail "a line of the block failed"
summary=$(tr '\n' ' ' <README.md | grep -o '`plan: [^`]*`' | head -n 1 | tr -d '`')
grep -qxF "$summary" "$home/seen.txt" || fail "plan did not end in: $summary"
# From the third summary line (package, plan, verify) to the fourth: the verify after the restart.
replaced=$(awk '/^(package|plan|verify):.* exit code [0-9]+$/ {++n; next}
  n == 3 && /state: replaced( |$)/ {++r} END {print r + 0}' "$home/seen.txt")
[ "$replaced" = 2 ] || fail "verify after the restart: 'state: replaced' $replaced time(s), not 2"
grep -qx 3010 "$home/seen.txt" || fail "cmd did not show the quiet run's whole exit code, 3010"
grep -qx "the shell's \$? shows 194" "$home/seen.txt" || fail "the shell's \$? did not show 194"
exit $status
