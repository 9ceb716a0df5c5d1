"""tolvanix-check beside the patcher: a clean package changes nothing; plan's decisions are what
the patcher then does, and verify follows the restart; package files that cannot work; lists
that name nothing, help and plain words; names in a console."""
import json
import os
import subprocess
import time

from bed import row, File, SYS, WINE_ENV

CHECK = "C:\\pkg\\tolvanix-check.exe"
PACKAGE = {CHECK: File("../tolvanix-check.exe"), "C:\\pkg\\kvprc7a.dll": File("standin.dll")}
for tag, name in [(t, n) for t in ("NT", "2K") for n in ("print.dll", "system.dll")]:
    PACKAGE["C:\\pkg\\modules\\%s\\%s" % (tag, name)] = File("v1_0_0_10.dll" + "_" * (tag == "2K"))


def records(r, command):
    code, out = r.run_console("%s %s --json" % (CHECK, command))
    try:
        return code, [json.loads(line) for line in out.splitlines() if line.strip()], out
    except ValueError as e:
        r.check(False, "not one JSON object per line (%s):\n%s" % (e, out))


def snapshot(r):
    """drive_c outside the temp folders and the bed's own, and the pending renames."""
    root = os.path.join(r.prefix, "drive_c")
    pending = r.run_console("reg", "query", "HKLM\\System\\CurrentControlSet\\Control\\Session "
                            "Manager", "/v", "PendingFileRenameOperations")[1]
    r.check("PendingFileRenameOperations" in pending, "reg query failed: " + pending)
    return pending, sorted((d, n, os.lstat(os.path.join(d, n)).st_mtime) for d, _, names in
                           os.walk(root) for n in names if "tolvbed" not in d and "users" not in d)


def clean(r):
    for command in ("package", "plan"):
        before = snapshot(r)
        code, recs, out = records(r, command)
        r.expect(command + " changed the prefix", before, snapshot(r))
        r.expect(command + ": exit code, findings, payloads; output:\n" + out,
                 (0, [], 4 if command == "package" else 0),
                 (code, [x for x in recs if x["type"] == "finding"],
                  len([x for x in recs if x["type"] == "payload"])))


row("check_clean_sample_package_has_no_findings_and_changes_nothing", args="/V", mode="V",
    ini={"PRINTPROC": ["print.dll"], "SrcFiles": ["system.dll"]}, files=PACKAGE, check=clean)

# Every state of an installed file: plan's decision is what the patcher then does; verify says
# 1 while a file waits for the restart, 0 after it.
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
    r.expect("plan's counts", [2, 2, 3], [summary.get(k) for k in (
        "replace now", "replace at the restart", "not replaced")])
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
    pre=["attrib.exe +r %s\\readonly.dll" % SYS, "{helper} hold %s\\held.dll" % SYS,
         "cmd.exe /c %s plan --json > C:\\tolvbed\\plan.json" % CHECK])

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
          # Saved as UTF-8, read in the ANSI code page: not the name on disk.
          ("caf\xc3\xa9.dll", {"caf\xe9.dll": File("v1_0_0_10.dll")}, "missing",
           "looks like UTF-8")]


def says_why(r):
    for command, field in (("plan", "decision"), ("verify", "state"), ("package", None)):
        code, recs, out = records(r, command)
        r.expect(command + "'s exit code; output:\n" + out, 2, code)
        for key, (_, _, problem, words) in enumerate(BROKEN):
            r.check(any(f["key"] == str(key) and words in f["message"] for f in recs
                        if f["type"] == "finding"), "%s: no %r for key %d" % (command, words, key))
            got = next((x for x in recs if x["type"] == "file" and x["key"] == str(key)), {})
            r.expect(command + " of key %d" % key, (problem, "refuse" if field == "decision"
                     else "package file: " + problem) if field else (None, None),
                     (got.get("problem"), got.get(field)))


row("check_says_why_a_package_file_cannot_work", args="/V", mode="V", check=says_why,
    ini={"PRINTPROC": [b[0] for b in BROKEN]}, files=dict({CHECK: File("../tolvanix-check.exe")}, **{
        "C:\\pkg\\modules\\%s\\%s" % (tag, n): c for _, placed, _, _ in BROKEN
        for n, c in placed.items() for tag in ("NT", "2K")}))

# What a person reads (the commas payload's "1, 0, 0, 3" reads as 0.0.0.3 to the gate): words
# that must be there, words that must not.
PLAIN = [("package", ["the gate reads it as 0.0.0.3", "companion library: none"],
          ["os class", "maker word", "path: \r", "number: 0x"]),
         ("plan", ["windows: XP or later", "decision: replace now (not installed yet)",
                   "log line: ", "file(s) would be replaced now"], ["os class", "\\r\\n", "0x0"]),
         ("verify", ["state: absent", "state: not replaced"], ["absent: not patched", "0x0"])]


def counts_helps_and_speaks_plainly(r):
    for command in ("package C:\\none", "package C:\\gap", "plan C:\\none", "plan C:\\empty"):
        code, recs, out = records(r, command)
        r.check(code == 1 and any("no list names a file" in f.get("message", "") for f in recs),
                "%s, lists that name nothing:\n%s" % (command, out))
    for args in ("--help", "-h", "/?", "help", "plan --help"):
        code, out = r.run_console("%s %s" % (CHECK, args))
        r.check(code == 0 and all(w in out for w in ("usage: tolvanix-check", "exit code: 0",
                                                     "decision (plan)")), args + ":\n" + out)
    for command, present, absent in PLAIN:
        out = r.run_console("%s %s" % (CHECK, command))[1]
        r.check(all(w in out for w in present) and not any(w in out for w in absent),
                "%s: expected %r and none of %r in\n%s" % (command, present, absent, out))


row("check_counts_helps_and_speaks_plainly", args="/V", mode="V",
    check=counts_helps_and_speaks_plainly,
    ini={"PRINTPROC": ["print.dll", "cut.dll"], "SrcFiles": ["system.dll"]},
    files=dict({k: v for k, v in PACKAGE.items() if "kvprc" not in k}, **{
        "C:\\none\\tolvanix.ini": "", "C:\\gap\\tolvanix.ini": "[SrcFiles]\r\n1=kvsys.dll\r\n",
        "C:\\empty\\tolvanix.ini": "[PRINTPROC]\r\n[KVSPLPROC]\r\nSRC=kv.exe\r\n[SrcFiles]\r\n",
        "C:\\pkg\\modules\\2K\\system.dll": File("commas.dll"),
        "C:\\pkg\\modules\\2K\\cut.dll": File("cut.dll_")}))


def ansi_names(r):
    # In a console (Wine's, on a pseudo-terminal in UTF-8) the ANSI name reads as the same
    # letters; redirected, it stays the ANSI bytes.
    shown = subprocess.run(["bash", "-c", '. "$0"; tolv_as_user "$1" script -qec "wine \'%s\' '
                            'package" /dev/null' % CHECK, WINE_ENV, r.prefix], env=r.env,
                           timeout=60, stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout
    r.check("caf\u00e9.dll".encode("utf-8") in shown, "console shows %r" % shown[:400])
    r.check("caf\xe9.dll" in r.run_console(CHECK + " package")[1], "redirected: not ANSI")


row("check_prints_ansi_names_right_in_a_console", args="/V", mode="V", check=ansi_names,
    ini={"PRINTPROC": ["caf\xe9.dll"]}, files={CHECK: File("../tolvanix-check.exe")})
