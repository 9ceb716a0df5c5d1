"""Unattended runs for deployment tools, with the README's commands: "/QUIET" (in any case)
shows no box and no Notepad, never restarts, keeps the L mode's log under the README's name,
and tells by its exit code what happened: 3010 a restart finishes it, 0 nothing waits, 1603 a
file could not be replaced (1619 and the other modes' codes: the unit tests' run table). And the
log of "/LOG=", in every mode, quiet or not; one that cannot be made stops the run (1622)."""
import calendar
import os
import re
import time

from bed import VICTIM, row, Case, File, Link, TEMP, COMPANION
from companion import WATCHED, ORDERED, life

KEPT = TEMP + "\\tolvanix-errors.log"
COPIED = Case("quiet_new.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied")
# Held open by another program: unchanged until the restart.
HELD = Case("quiet_held.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "kept", "SrcFiles")
# Cut short: it does not expand, the gate reads no version and keeps the installed file.
CUT = Case("quiet_cut.dll", ("v1_0_0_9.dll", 0), ("cut.dll_", 0), "version")
CUT_LINES = "LZCopy {0} at CopyLZFile FALSE \r\nversion of {0} is greater than {1} \r\n".format(
    CUT.target(), CUT.source("2K", "C:\\pkg"))
# Both exports fault: each call fails with one line more; the library is never freed or detached.
FAULTS = "".join("%s at KvSplServiceControl FALSE 0xC0000005 \r\n%s at  KvSplServiceControl FALSE "
                 "\r\n" % c for c in (("UninstService", "sstop"), ("InstService", "sstart")))


# The time (UTC) and the version text, then what the L mode logs and a line for each file.
FIRST = (r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC Kestova print processor patch for Kestova printer "
         r"drivers Version 1\.003 \r\n")
ABSENT = Case("quiet_absent.dll", None, ("v1_0_0_10.dll", 0), "kept", "SrcFiles")


def logged(file, *done):
    """The log at file: FIRST, then for each (case, what) the case's lines and its own."""
    def check(r):
        want = "".join((CUT_LINES if c is CUT else c.line("2K", "C:\\pkg")) +
                       "%s %s \r\n" % (c.target(), what) for c, what in done)
        got = r.file(file)
        r.expect(file + " (a link: %s)" % os.path.islink(r.unix(file)),
                 re.compile(FIRST + re.escape(want), re.S), got and got.decode("latin-1"))
        stamp = calendar.timegm(time.strptime(got[:19].decode(), "%Y-%m-%d %H:%M:%S"))
        folder, victim = file.rsplit("\\", 1)[0], r.sc["files"].get(VICTIM)
        r.expect("the link's target, fresh files left in %s, UTC" % folder, (
            victim and victim.encode(), [], True), (r.file(VICTIM), [n for n in r.listdir(
                folder) if n.upper().startswith("KPP")], abs(stamp - time.time()) < 300))
    return check


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
    # Its /LOG= file replaces a link, and tells what became of each file.
    ("quiet_patch_replaces_and_leaves_the_restart_to_the_tool", "/QUIET /LOG=C:\\logs\\run.log",
     "win7", [COPIED, HELD, ABSENT], {"C:\\pkg\\tolvanix-check.exe": File("../tolvanix-check.exe"),
                                     "C:\\logs\\run.log": Link(VICTIM), VICTIM: "must stay as it is"},
     ["hold " + HELD.target()], 3010, lambda r: (logged(
         "C:\\logs\\run.log", (COPIED, "replaced now"), (HELD, "replaced at the restart"),
         (ABSENT, "absent: only present files are replaced"))(r), quiet(held=True)(r))),
    ("quiet_log_patch_with_a_failed_expansion_exits_1603", "/L /QUIET", "winxp",
     [COPIED, CUT], {KEPT: "the log of an earlier run\r\n"}, [], 1603,
     quiet(CUT_LINES.encode("latin-1"))),
    ("quiet_log_patch_where_nothing_fails_replaces_the_old_log_with_an_empty_one", "/L /quiet",
     "win7", [COPIED], {KEPT: "the log of an earlier run\r\n"}, [], 0, quiet(b"")),
    # The companion's refusals below XP are no failure; a link at the log's name is replaced.
    ("quiet_log_patch_below_xp_keeps_its_lines_and_exits_0", "/L /Quiet", "win2k",
     [COPIED], {KEPT: Link(VICTIM), VICTIM: "must stay as it is"}, [], 0,
     quiet(b"not XP  KvSplServiceControl FALSE \r\n" * 2)),
    ("quiet_log_patch_whose_companion_faults_goes_on_and_exits_1603", "/L /QUIET", "win7",
     [COPIED, Case("quiet_sys.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "copied",
                   "SrcFiles")], {"C:\\pkg\\kvprc7a.dll": File("faults.dll")}, [], 1603,
     lambda r: quiet(FAULTS.encode())(r) or r.expect("the stand-in's records", [
         "kvprc7a.dll " + c for c in ("attach -", "UninstService -", "InstService -")], r.calls)),
]:
    row(name, args=args, windows=windows, cases=cases, files=dict(COMPANION, **files), pre=pre,
        exit=code, answer="ok", check=check)


# /LOG=FILE's mode is still the letter after the first "/", so "/LOG=... /D" is the L mode.
for name, args, mode, windows, cases, files, pre, code, check in [
    ("log_file_of_an_l_run_named_first_and_quoted_holds_the_l_lines_and_each_file",
     '/LOG="C:\\my logs\\run.log" /D', "L", "winxp", [COPIED, CUT], {"C:\\my logs\\": ""}, [], 0,
     logged("C:\\my logs\\run.log", (COPIED, "replaced now"), (CUT, "failed"))),
    # No such folder: nothing is done, not even the spooler's stop or the companion's load.
    ("log_file_in_a_missing_folder_stops_the_run_with_1622", "/L /QUIET /LOG=C:\\none\\run.log",
     None, "win7", [Case(COPIED.name, COPIED.installed, COPIED.package, "kept")], {}, [], 1622,
     lambda r: r.expect("C:\\none, the kept log", (False, None),
                        (os.path.exists(r.unix("C:\\none")), r.file(KEPT)))),
]:
    row(name, args=args, mode=mode, windows=windows, cases=cases, exit=code, check=check, pre=pre,
        files=dict(COMPANION, **files), calls=[] if code == 1622 else None,
        log=CUT_LINES if CUT in cases else None)

# One run at a time. Runs started once the first holds its lock (it then stops the spooler and
# waits) change nothing: quiet 1618, else one OK box and 0 (the report and the version take no
# lock); one started at its box, the lock let go by then, runs whole. The companion's calls never
# interleave, and the kept log stays.
CALLS, EARLIER = life("kvprc7a.dll", *ORDERED), "the log of an earlier run\r\n"
ANOTHER = ("1:OK icon=0 owner=0 program=2", "Kestova PrintProcessor patch", "This patch is already "
           "being applied by another run: wait until it has finished.\nNothing was changed.")
row("quiet_second_run_while_one_runs_exits_1618_and_changes_nothing", args="/L", mode="L",
    log=False, ini={"SrcFiles": ["kvwatch.dll"]}, files=dict(COMPANION, **WATCHED, **{
        KEPT: EARLIER}), calls=CALLS + [c.replace("old", "new") for c in CALLS],
    second=[("lock", a) for a in ("/L /QUIET", "/U", "/D /QUIET", "/V /QUIET")] + [(
        "box", "/QUIET")],
    check=lambda r: r.expect("the other runs' exit codes and boxes, the kept log", (
        [1618, 0, 0, 0, 0], [ANOTHER], EARLIER.encode()), (
        [int(r.fields.get("second%d" % i, -1)) for i in range(5)],
        [(b["look"], b["caption"], b["text"]) for b in r.others], r.file(KEPT))))
