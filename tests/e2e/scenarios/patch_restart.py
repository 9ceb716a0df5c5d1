"""Targets that cannot be written now wait for the restart: one held open without sharing by
another process, one read-only. The expansion waits in the target's own folder, exactly two
operations per target are registered (deletion, then the move onto it), the read-only
attribute is gone at once, and after a restart of the session both hold the package file."""
import os
import re
import stat
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario, Helper  # noqa: E402
from patch_kit import (Case, PRTPROCS, SYS, package, payload_bytes, expect_log,  # noqa: E402
                       expect_installed)

HELD = Case("held.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied")
READ_ONLY = Case("readonly.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "copied",
                 section="SrcFiles")
HOLD = "C:\\tolvbed\\holdfile.exe"


@scenario(args="/L", pre=["cmd.exe /c start %s %s" % (HOLD, HELD.target()), HOLD + " --wait",
                          "attrib.exe +r " + READ_ONLY.target()],
          **package([HELD, READ_ONLY], files={HOLD: Helper("holdfile.exe")}))
def patch_locked_and_read_only_targets_wait_for_the_restart(r):
    r.expect_mode("L")
    expect_log(r, "")
    untouched = [Case(c.name, c.installed, c.package, "skipped", c.section)
                 for c in (HELD, READ_ONLY)]
    expect_installed(r, untouched)
    mode = os.stat(r.unix(READ_ONLY.target())).st_mode
    r.check(mode & stat.S_IWUSR, "%s is still read-only (mode %o)" % (READ_ONLY.target(), mode))

    # Per target: delete it, then move a "kv" file of its own folder onto it.
    r.check(len(r.pending) == 4, "expected 4 pending operations, got %r" % r.pending)
    staged = []
    for (deleted, nothing), (moved, onto), case, folder in zip(
            r.pending[0::2], r.pending[1::2], (HELD, READ_ONLY), (PRTPROCS, SYS)):
        want = "\\??\\" + case.target()
        r.check(deleted.lower() == want.lower() and nothing == "",
                "first operation for %s: expected its deletion, got %r" % (case.name,
                                                                         (deleted, nothing)))
        r.check(onto.lower() == want.lower() and re.fullmatch(
            r"(?i)" + re.escape("\\??\\" + folder + "\\") + r"kv[0-9a-f]+\.tmp", moved),
            "second operation for %s: expected a kv*.tmp of %s moved onto it, got %r" % (
                case.name, folder, (moved, onto)))
        staged.append(moved[4:])
        r.check(r.file(moved[4:]) == payload_bytes(r, case.package[0]),
                "the staged %s does not hold the expanded package file" % moved[4:])
    r.expect_temp_files(r"KPP.*", 0)
    r.expect_temp_files(r"kv.*", 0)

    r.after_restart()
    expect_installed(r, [HELD, READ_ONLY])
    for path in staged:
        r.check(not r.exists(path), "%s is still there after the restart" % path)
