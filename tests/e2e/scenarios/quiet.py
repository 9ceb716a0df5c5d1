"""The unattended run of deployment tools, with the README's commands: "/QUIET" shows no box and
no Notepad, never restarts, keeps the L mode's log under the README's name and tells by its exit
code what happened: 3010 done (a restart finishes it), 1603 a listed file could not be replaced,
0 for the report and the version. Without the option the same failing run ends in the box, exit
code 0, as before."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario, Built, Helper, Link, TEMP, RESTART_QUESTION  # noqa: E402
from patch_kit import Case, package, expect_installed  # noqa: E402

KEPT = TEMP + "\\tolvanix-errors.log"
HOLD = "C:\\tolvbed\\holdfile.exe"
COPIED = Case("quiet_new.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied")
# Held open by another program: unchanged until the restart ("skipped" for what is there now).
HELD = Case("quiet_held.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "skipped", "SrcFiles")
# Cut short: its expansion fails, so the gate reads no version and keeps the installed file.
CUT = Case("quiet_cut.dll", ("v1_0_0_9.dll", 0), ("cut.dll_", 0), "version")
CUT_LINES = ("LZCopy {t} at CopyLZFile FALSE \r\nversion of {t} is greater than {s} \r\n"
             .format(t=CUT.target(), s=CUT.source()).encode("latin-1"))
HOLDING = ["cmd.exe /c start %s %s" % (HOLD, HELD.target()), HOLD + " --wait"]
STALE = {KEPT: "the log of an earlier run\r\n"}
VICTIM = "C:\\tolvbed\\victim.txt"

# name, arguments, Windows, cases, more files, set-up, exit code, kept log (None: no file)
RUNS = [
    ("quiet_patch_replaces_and_leaves_the_restart_to_the_tool", "/QUIET", "win7",
     [COPIED, HELD], {HOLD: Helper("holdfile.exe"),
                      "C:\\pkg\\tolvanix-check.exe": Built("tolvanix-check.exe")}, HOLDING, 3010, None),
    ("quiet_log_patch_with_a_failed_expansion_exits_1603", "/L /QUIET", "winxp",
     [COPIED, CUT], STALE, [], 1603, CUT_LINES),
    ("quiet_log_patch_where_nothing_fails_replaces_the_old_log_with_an_empty_one", "/L /QUIET",
     "win7", [COPIED], STALE, [], 3010, b""),
    # The companion's refusals below XP are no failure; a link at the log's name is replaced.
    ("quiet_log_patch_below_xp_keeps_its_lines_and_exits_3010", "/L /QUIET", "win2k",
     [COPIED], {KEPT: Link(VICTIM), VICTIM: "must stay as it is"}, [], 3010,
     b"not XP  KvSplServiceControl FALSE \r\n" * 2),
    ("quiet_uninstall_exits_3010", "/U /QUIET", "win7", [], {}, [], 3010, None),
    ("quiet_version_exits_0", "/V /QUIET", "win10", [], {}, [], 0, None),
    ("quiet_on_windows_98_does_nothing", "/L /QUIET", "win98", [COPIED], {}, [], 0, None),
]

for name, args, windows, cases, files, pre, code, kept in RUNS:
    settings = package(cases, files=files)

    @scenario(name, args=args, windows=windows, pre=pre, exit_code=code, answer="ok", **settings)
    def quiet_run(r, cases=cases, kept=kept, windows=windows, files=files):
        r.expect_no_box()
        r.expect_no_notepad()
        r.expect_restart(False)
        replaced = [c for c in cases if windows != "win98"]
        expect_installed(r, [c if c in replaced else Case(c.name, c.installed, c.package,
                                                          "skipped", c.section) for c in cases])
        got = r.file(KEPT) if not os.path.islink(r.unix(KEPT)) else "a link"
        r.check(got == kept, "%s: expected %r, got %r" % (KEPT, kept, got))
        if VICTIM in files:
            r.check(r.file(VICTIM) == b"must stay as it is", "the link's target changed")
        held = [p for p in r.pending if p[0].lower().endswith(HELD.name)
                or (p[1] or "").lower().endswith(HELD.name)]
        r.check(len(held) == (2 if HELD in cases else 0), "restart operations: %r" % r.pending)
        if HELD in cases:
            # The README's detection command: 1 while a file waits for the restart, then 0.
            for expected in (1, 0):
                code, out = r.run_console("C:\\pkg\\tolvanix-check.exe verify C:\\pkg")
                r.check(code == expected, "verify: expected %d, got %r\n%s" % (expected, code, out))
                if expected:
                    r.after_restart()
        if "/U" in r.sc.args:
            calls = (r.file("C:\\tolvbed\\companion.txt") or b"").decode("latin-1")
            r.check("UninstService" in calls, "the companion was not asked to stop: %r" % calls)


@scenario(args="/D /QUIET", exit_code=0)
def quiet_diagnose_writes_the_report_without_notepad(r):
    r.expect_no_box()
    r.expect_no_notepad()
    report = r.file(TEMP + "\\tolvanix.log") or b""
    r.check(report.startswith(b"Kvsrv05c = SERVICE_NOT_INSTALLED\r\n"), "report: %r" % report)


# The same failing run without the option: the box, and exit code 0.
@scenario(args="/L", windows="winxp", exit_code=0, **package([COPIED, CUT]))
def without_quiet_a_failed_expansion_still_ends_in_the_box_with_exit_0(r):
    r.expect_box(text=RESTART_QUESTION)
    note = r.expect_log_tail()
    r.check(note.content == CUT_LINES, "log: %r" % note.content)
    r.check(r.file(KEPT) is None, "%s was written without /QUIET" % KEPT)
