"""Unattended runs for deployment tools, with the README's commands: "/QUIET" (in any case)
shows no box and no Notepad, never restarts, keeps the L mode's log under the README's name,
and tells by its exit code what happened: 3010 a restart finishes it, 0 nothing waits, 1603 a
file could not be replaced (1619 and the other modes' codes: the unit tests' run table)."""
import os

from bed import VICTIM, row, Case, File, Link, TEMP, COMPANION

KEPT = TEMP + "\\tolvanix-errors.log"
COPIED = Case("quiet_new.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied")
# Held open by another program: unchanged until the restart.
HELD = Case("quiet_held.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "kept", "SrcFiles")
# Cut short: it does not expand, the gate reads no version and keeps the installed file.
CUT = Case("quiet_cut.dll", ("v1_0_0_9.dll", 0), ("cut.dll_", 0), "version")
CUT_LINES = "LZCopy {0} at CopyLZFile FALSE \r\nversion of {0} is greater than {1} \r\n".format(
    CUT.target(), CUT.source("2K", "C:\\pkg"))


def quiet(kept=None, held=False):
    def check(r):
        r.expect(KEPT, kept, "a link" if os.path.islink(r.unix(KEPT)) else r.file(KEPT))
        if VICTIM in r.sc["files"]:
            r.expect("the link's target", b"must stay as it is", r.file(VICTIM))
        # As without /QUIET, two restart operations for the held file; the README's detection
        # command says 1 while it waits for the restart, then 0.
        r.expect("restart operations", 2 * held, len(r.pending))
        for expected in (1, 0) if held else ():
            code, out = r.run_console("C:\\pkg\\tolvanix-check.exe verify C:\\pkg")
            r.expect("verify's exit code, output:\n" + out, expected, code)
            r.after_restart()
    return check


for name, args, windows, cases, files, pre, code, check in [
    ("quiet_patch_replaces_and_leaves_the_restart_to_the_tool", "/QUIET", "win7",
     [COPIED, HELD], {"C:\\pkg\\tolvanix-check.exe": File("../tolvanix-check.exe")},
     ["hold " + HELD.target()], 3010, quiet(held=True)),
    ("quiet_log_patch_with_a_failed_expansion_exits_1603", "/L /QUIET", "winxp",
     [COPIED, CUT], {KEPT: "the log of an earlier run\r\n"}, [], 1603,
     quiet(CUT_LINES.encode("latin-1"))),
    ("quiet_log_patch_where_nothing_fails_replaces_the_old_log_with_an_empty_one", "/L /quiet",
     "win7", [COPIED], {KEPT: "the log of an earlier run\r\n"}, [], 0, quiet(b"")),
    # The companion's refusals below XP are no failure; a link at the log's name is replaced.
    ("quiet_log_patch_below_xp_keeps_its_lines_and_exits_0", "/L /Quiet", "win2k",
     [COPIED], {KEPT: Link(VICTIM), VICTIM: "must stay as it is"}, [], 0,
     quiet(b"not XP  KvSplServiceControl FALSE \r\n" * 2)),
]:
    row(name, args=args, windows=windows, cases=cases, files=dict(COMPANION, **files), pre=pre,
        exit=code, answer="ok", check=check)
