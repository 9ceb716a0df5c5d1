"""tolvanix-check beside the patcher: a clean package changes nothing; plan's decisions are what
the patcher then does, and verify follows the restart; package files that cannot work. (The
findings on a package, help and usage are the unit tests' table.)"""
import json
import os
import time

from bed import row, Case, File, SYS, TEMP, COMPANION

CHECK, KEPT = "C:\\pkg\\tolvanix-check.exe", TEMP + "\\tolvanix-errors.log"
PACKAGE = dict(COMPANION, **{CHECK: File("../tolvanix-check.exe")},
               **{"C:\\pkg\\modules\\%s\\%s" % (t, n): File("v1_0_0_10.dll" + "_" * (t == "2K"))
                  for t in ("NT", "2K") for n in ("print.dll", "system.dll")})


def records(r, command):
    """The exit code and the records (one JSON object a line) of a tolvanix-check command."""
    code, out = r.run_console("%s %s --json" % (CHECK, command))
    return code, [json.loads(line) for line in out.splitlines() if line.strip()], out


def snapshot(r):
    """drive_c outside the temp folders and the bed's own, and the pending renames."""
    root = os.path.join(r.prefix, "drive_c")
    pending = r.run_console("reg", "query", "HKLM\\System\\CurrentControlSet\\Control\\Session "
                            "Manager", "/v", "PendingFileRenameOperations")[1]
    r.check("PendingFileRenameOperations" in pending, "reg query failed: " + pending)
    return pending, sorted((d, n, os.lstat(os.path.join(d, n)).st_mtime) for d, _, names in
                           os.walk(root) for n in names if "tolvbed" not in d and "users" not in d)


def clean(r):
    # The 64-bit checker also reads the package's 64-bit half.
    for command, payloads in (("package", 6 if r.as64 else 4), ("plan", 0)):
        before, (code, recs, out) = snapshot(r), records(r, command)
        r.expect(command + ": changes, exit code, findings, payloads; output:\n" + out,
                 (before, 0, [], payloads), (snapshot(r), code, [x for x in recs if x["type"] ==
                                             "finding"], sum(x["type"] == "payload" for x in recs)))


row("check_clean_sample_package_has_no_findings_and_changes_nothing", args="/V", mode="V",
    ini={"PRINTPROC": ["print.dll"], "SrcFiles": ["system.dll"]}, files=PACKAGE, check=clean)


# Whoever else may write to the package decides what the elevated run installs: a package file
# anyone may write (0666), then the package folder too (0777). One warning each time, naming the
# first and counting the rest.
def writable(r):
    for path, mode, more in (("C:\\pkg\\modules\\2K\\print.dll", 0o666, ""), ("C:\\pkg", 0o777,
                             " (the same holds for 1 more file or folder in the package)")):
        os.chmod(r.unix(path), mode)
        code, recs, out = records(r, "package")
        r.expect("package's exit code and findings; output:\n" + out, (1, [(
            path, "may be written by S-1-1-0 (Everyone), not by administrators only" + more)]), (
            code, [(f["file"], f["message"].split(":")[0]) for f in recs if f["type"] == "finding"]))


row("check_package_warns_when_others_may_write_to_it", args="/V", mode="V",
    ini={"PRINTPROC": ["print.dll"]}, files=PACKAGE, check=writable)

# Every state of an installed file: plan's decision is what the patcher then does; verify says
# 1 while a file waits for the restart, 0 after it. held.dll is in use as a loaded library is.
NOW = time.time()
DECISIONS = {"older.dll": "replace now", "newer.dll": "refuse", "sametime_old.dll": "replace now",
             "sametime_new.dll": "refuse", "absent.dll": "skip as absent",
             "readonly.dll": "replace at the restart", "held.dll": "replace at the restart"}
PLAN_FILES = {CHECK: File("../tolvanix-check.exe"),
              SYS + "\\sametime_old.dll": (File("v1_0_0_10.dll"), NOW - 7200),
              SYS + "\\sametime_new.dll": (File("v1_0_0_10.dll"), NOW)}
for name in DECISIONS:
    newer = name == "newer.dll"
    PLAN_FILES["C:\\pkg\\modules\\2K\\" + name] = (File("v1_0_0_%d.dll" % (9 + (not newer))),
                                                   NOW - 3600)
    if name in ("older.dll", "readonly.dll", "held.dll", "newer.dll"):
        PLAN_FILES[SYS + "\\" + name] = File("v1_0_0_%d.dll" % (9 + newer))


def plan_then_patch(r):
    recs = [json.loads(line) for line in r.file("C:\\tolvbed\\plan.json").decode().splitlines()]
    r.expect("plan", DECISIONS, {x["target"].rsplit("\\", 1)[1]: x["decision"] for x in recs
                                 if x["type"] == "file"})
    summary = recs[-1]
    r.expect("plan's counts and quiet exit code", [2, 2, 3, 3010], [summary.get(k) for k in (
        "replace now", "replace at the restart", "not replaced", "quiet exit")])
    waiting = {p[0].rsplit("\\", 1)[1].lower() for p in r.pending}
    for name, decision in DECISIONS.items():
        target, package = SYS + "\\" + name, "C:\\pkg\\modules\\2K\\" + name
        now = r.file(target) == r.file(package) and int(os.stat(r.unix(target)).st_mtime) == int(
            os.stat(r.unix(package)).st_mtime)  # the copy keeps the package's time
        r.expect(name + ": what the patcher did", decision, "replace now" if now else
                 "replace at the restart" if name in waiting else
                 "skip as absent" if r.file(target) is None else "refuse")
    for expected in (1, 0):
        code, recs, out = records(r, "verify")
        r.expect("verify's exit code; output:\n" + out, expected, code)
        r.after_restart()


row("check_plan_predicts_the_patch_and_verify_follows_the_restart", mode="P", timeout=40,
    ini={"SrcFiles": list(DECISIONS)}, files=PLAN_FILES, check=plan_then_patch,
    pre=["attrib.exe +r %s\\readonly.dll" % SYS, "hold %s\\held.dll" % SYS,
         "cmd.exe /c %s plan --json > C:\\tolvbed\\plan.json" % CHECK])


# An installed file held without sharing cannot be read: plan says the copy fails, with the
# patcher's line, and the quiet exit code it predicts is the one the quiet run then gives;
# verify, in the same session, calls the file unreadable.
def fails_closed(r):
    plan = [json.loads(line) for line in r.file("C:\\tolvbed\\plan.json").decode().splitlines()]
    code, recs, out = records(r, "verify")
    r.expect("plan's decision, line and quiet exit code; verify's; output:\n" + out, ("refuse",
        "CreateFile %s\\locked.dll at CopySplFile FALSE \r\n" % SYS, r.exit_code, 2,
        "installed file: unreadable"), (plan[-2]["decision"],
        plan[-2].get("log"), plan[-1]["quiet exit"], code, recs[-2].get("state")))


row("check_plan_predicts_the_failed_read_and_the_quiet_exit_code", args="/QUIET", exit=1603,
    ini={"SrcFiles": ["locked.dll"]}, check=fails_closed,
    files={CHECK: File("../tolvanix-check.exe"), SYS + "\\locked.dll": File("v1_0_0_10.dll"),
           "C:\\pkg\\modules\\2K\\locked.dll": File("v1_0_0_9.dll")},
    pre=["lock %s\\locked.dll" % SYS,
         "cmd.exe /c %s plan --json > C:\\tolvbed\\plan.json & exit 0" % CHECK])

# Package files that cannot work, under PRINTPROC and installed nowhere: what lies in the
# package folders, the problem, words of the error. The decision stays the patcher's, "refuse".
BROKEN = [("gone.dll", {}, "missing", "missing from modules\\2K"),
          ("kvpp.dll", {"kvpp.dll_": File("v1_0_0_10.dll_")}, "missing",
           "holds kvpp.dll_ instead: the patcher looks for the installed name"),
          ("kvdl.dll", {"kvdl.dl_": File("v1_0_0_10.dll_")}, "missing", "holds kvdl.dl_ instead"),
          ("cut.dll", {"cut.dll": File("cut.dll_")}, "damaged", "damaged or cut short"),
          ("odd.dll", {"odd.dll": b"SZDD\x88\xf0\x27\x33Bl\xd1\x12\0\0" + b"\0" * 64},
           "not expandable", "not expandable"),
          ("dir.dll", {"dir.dll\\inner.txt": b"x"}, "a folder", "is a folder"),
          ("kwaj.dll", {"kwaj.dll": File("kwaj.dll_")}, "not expandable", "as KWAJ"),
          # Held without sharing in modules\2K (by the row's set-up): there, yet unreadable.
          ("held.dll", {"held.dll": File("v1_0_0_10.dll")}, "unreadable",
           "cannot be opened for reading"),
          # Saved as UTF-8, read in the ANSI code page: not the name on disk.
          ("caf\xc3\xa9.dll", {"caf\xe9.dll": File("v1_0_0_10.dll")}, "missing",
           "looks like UTF-8")]


def says_why(r):
    for command, field in (("plan", "decision"), ("verify", "state"), ("package", None)):
        code, recs, out = records(r, command)
        r.expect(command + "'s exit code; output:\n" + out, 2, code)
        for key, (_, _, problem, words) in enumerate(BROKEN):
            words = r.remap(words)
            r.check(any(f["key"] == str(key) and words in f["message"] for f in recs
                        if f["type"] == "finding"), "%s: no %r for key %d" % (command, words, key))
            got = next((x for x in recs if x["type"] == "file" and x["key"] == str(key)), {})
            r.expect(command + " of key %d" % key, (problem, "refuse" if field == "decision"
                     else "package file: " + problem) if field else (None, None),
                     (got.get("problem"), got.get(field)))


row("check_says_why_a_package_file_cannot_work", args="/V", mode="V", check=says_why,
    pre=["lock C:\\pkg\\modules\\2K\\held.dll"],
    ini={"PRINTPROC": [b[0] for b in BROKEN]}, files=dict({CHECK: File("../tolvanix-check.exe")}, **{
        "C:\\pkg\\modules\\%s\\%s" % (tag, n): c for _, placed, _, _ in BROKEN
        for n, c in placed.items() for tag in ("NT", "2K")}))


# Run 1 finds both targets read-only: their copies wait for the restart. Run 2, in the same
# session, is not undone by them: a newer package file waits behind them and stands after the
# restart, one older than run 1's is refused; plan predicts run 2, verify tells both apart.
EARLIER = [Case("undone.dll", ("v1_0_0_0.dll", 0), ("v1_0_0_9.dll", 0), "kept", "SrcFiles"),
           Case("outrun.dll", ("v1_0_0_0.dll", 0), ("v1_0_0_10.dll", 0), "kept", "SrcFiles")]


def second_run_waits_behind_the_first(r):
    r.expect("run 1's operations", 4, len(r.pending))
    for case, payload in zip(EARLIER, ("v1_0_0_10.dll", "v1_0_0_9.dll")):
        r.place(case.source("2K", "C:\\pkg"), File(payload))
    code, plan, out = records(r, "plan")
    r.expect("plan of run 2: decisions, exit code, quiet exit; output:\n" + out,
             ["replace at the restart", "refuse", 1, 3010],
             [x["decision"] for x in plan if x["type"] == "file"] + [code, plan[-1]["quiet exit"]])
    line = "version of %s is greater than %s \r\n" % (EARLIER[1].target(), EARLIER[1].source(
        "2K", "C:\\pkg"))
    r.expect("run 2's exit code (its low byte), and its log", (3010 & 255, line.encode(
        "latin-1")), (r.run_console("C:\\pkg\\tolvanix.exe /L /QUIET")[0], r.file(KEPT)))
    code, recs, out = records(r, "verify")
    r.expect("verify before the restart; output:\n" + out, (1, "waits for the restart", "kept"),
             (code, *(x["state"] for x in recs if x["type"] == "file")))
    r.after_restart()
    r.expect("after the restart, each holds 1.0.0.10", [True] * 2,
             [r.file(c.target()) == r.testfile("v1_0_0_10.dll") for c in EARLIER])


row("check_a_second_run_waits_behind_the_first_runs_restart_operations", args="/QUIET",
    exit=3010, answer="ok", cases=EARLIER, files=dict(COMPANION, **{CHECK: File(
        "../tolvanix-check.exe")}), check=second_run_waits_behind_the_first,
    pre=["attrib.exe +r " + c.target() for c in EARLIER])
