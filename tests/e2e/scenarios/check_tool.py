"""tolvanix-check beside the patcher: a clean package and packages with one trap each, plan's
decisions against what the patcher then really does, verify before and after the restart,
plan and package leaving the prefix as they found it, package files that cannot work, lists
that name nothing, the help, and what a person reads."""
import json
import os
import subprocess
import time

import bed
from bed import scenario, Built, Helper

CHECK = "C:\\pkg\\tolvanix-check.exe"
SYS = "C:\\windows\\system32\\"
FIX = "fixtures/check/"
INI = "[tolvanix]\r\n[PRINTPROC]\r\n0=print.dll\r\n[SrcFiles]\r\n0=system.dll\r\n"


def package(ini=INI, **extra):
    files = {"C:\\pkg\\tolvanix-check.exe": Built("tolvanix-check.exe"),
             "C:\\pkg\\kvprc7a.dll": Helper("kvprc7a.dll")}
    for name in ("print.dll", "system.dll"):
        files["C:\\pkg\\modules\\NT\\" + name] = Built(FIX + "clean.dll")
        files["C:\\pkg\\modules\\2K\\" + name] = Built(FIX + "clean.dll_")
    files.update(extra)
    return dict(ini=ini, files=files)


def records(r, text):
    try:
        return [json.loads(line) for line in text.splitlines() if line.strip()]
    except ValueError as e:
        r.fail("output is not one JSON object per line (%s):\n%s" % (e, text))


def check(r, command):
    code, out = r.run_console("%s %s --json" % (CHECK, command))
    return code, records(r, out), out


def summary(recs):
    return next((x for x in recs if x["type"] == "summary"), {})


def findings(recs):
    return [x for x in recs if x["type"] == "finding"]


def snapshot(r):
    """drive_c outside the temp folders and the bed's own folder, and the pending renames."""
    listing = []
    root = os.path.join(r.prefix, "drive_c")
    for folder, dirs, names in os.walk(root):
        rel = os.path.relpath(folder, root).replace(os.sep, "\\")
        if rel.lower().startswith(("tolvbed", "users\\")):
            continue
        for n in names:
            st = os.lstat(os.path.join(folder, n))
            listing.append((rel, n, st.st_size, st.st_mtime))
    code, out = r.run_console('reg query "HKLM\\System\\CurrentControlSet\\Control\\Session '
                              'Manager" /v PendingFileRenameOperations')
    return sorted(listing), out


def expect_prefix_unchanged_by(r, command):
    before = snapshot(r)
    code, recs, out = check(r, command)
    after = snapshot(r)
    r.check(before[1] == after[1], "%s changed the pending renames:\n%s\n%s" % (
        command, before[1], after[1]))
    changed = set(before[0]) ^ set(after[0])
    r.check(not changed, "%s changed drive_c: %r" % (command, sorted(changed)))
    return code, recs, out


@scenario(args="/V", **package())
def check_clean_sample_package_has_no_findings_and_changes_nothing(r):
    code, recs, out = expect_prefix_unchanged_by(r, "package")
    r.check(code == 0 and not findings(recs), "package: exit %r\n%s" % (code, out))
    r.check(len([x for x in recs if x["type"] == "payload"]) == 4, out)
    code, recs, out = expect_prefix_unchanged_by(r, "plan")
    r.check(code == 0, "plan: exit %r\n%s" % (code, out))


TRAPS = {
    "gap": (dict(ini=INI + "2=other.dll\r\n"), "warning", "after the gap"),
    "past_limit": (dict(ini=INI.replace("0=print.dll\r\n", "0=print.dll\r\n50=x.dll\r\n")),
                   "warning", "past the last key"),
    "leading_zero": (dict(ini=INI + "01=x.dll\r\n"), "warning", "leading zero"),
    "other_language": (dict(lang=Built(FIX + "german.dll")), "warning", "string table 040704b0"),
    "version_8000": (dict(lang=Built(FIX + "v8000.dll")), "warning", "8000 or more"),
    "commas": (dict(lang=Built(FIX + "commas.dll")), "warning", "reads as 0.0.0.3"),
    "binary_differs": (dict(lang=Built(FIX + "binary_differs.dll")), "warning", "disagrees"),
    "missing_nt": (dict(lang=None, where="NT"), "error", "missing from modules\\NT"),
    "truncated": (dict(lang=Built(FIX + "truncated.dll")), "error", "damaged or cut short"),
    "wildcard": (dict(ini=INI + "1=sys*.dll\r\n"), "error", "wildcard"),
    "separator": (dict(ini=INI + "1=..\\system.dll\r\n"), "error", "not a bare file name"),
    "long_name": (dict(ini=INI + "1=%s.dll\r\n" % ("n" * 240)), "error", "does not fit"),
    "companion_exports": (dict(companion=Built("fixtures/companion/companion_inst_only.dll")),
                          "error", "lacks UninstService"),
}

for trap, (how, level, words) in TRAPS.items():
    extra = {}
    if "lang" in how:
        extra["C:\\pkg\\modules\\%s\\system.dll" % how.get("where", "2K")] = how["lang"]
    if "companion" in how:
        extra["C:\\pkg\\kvprc7a.dll"] = how["companion"]

    @scenario("check_package_trap_" + trap, args="/V", **package(how.get("ini", INI), **extra))
    def package_trap(r, level=level, words=words):
        code, recs, out = check(r, "package")
        found = findings(recs)
        r.check(len(found) == 1, "expected exactly one finding, got %d:\n%s" % (len(found), out))
        r.check(found[0]["level"] == level and words in found[0]["message"],
                "finding: expected %s with %r, got %r" % (level, words, found[0]))
        r.check(code == (2 if level == "error" else 1), "exit %r\n%s" % (code, out))


# plan, then the patch: every state of an installed file, each decided as the plan said.
NOW = time.time()
PLAN_INI = ("[tolvanix]\r\n[SrcFiles]\r\n0=older.dll\r\n1=newer.dll\r\n2=sametime_old.dll\r\n"
            "3=sametime_new.dll\r\n4=absent.dll\r\n5=readonly.dll\r\n6=held.dll\r\n")
PLAN_FILES = {"C:\\pkg\\tolvanix-check.exe": Built("tolvanix-check.exe"),
              "C:\\tolvbed\\holdfile.exe": Helper("holdfile.exe"),
              SYS + "older.dll": Built(FIX + "clean_old.dll"),
              SYS + "newer.dll": Built(FIX + "clean.dll"),
              SYS + "sametime_old.dll": (b"", 0), SYS + "sametime_new.dll": (b"", 0),
              SYS + "readonly.dll": Built(FIX + "clean_old.dll"),
              SYS + "held.dll": Built(FIX + "clean_old.dll")}
for name in ("older", "sametime_old", "sametime_new", "absent", "readonly", "held"):
    PLAN_FILES["C:\\pkg\\modules\\2K\\%s.dll" % name] = (Built(FIX + "clean.dll"), NOW - 3600)
PLAN_FILES["C:\\pkg\\modules\\2K\\newer.dll"] = Built(FIX + "clean_old.dll")
PLAN_FILES[SYS + "sametime_old.dll"] = (Built(FIX + "clean.dll"), NOW - 7200)
PLAN_FILES[SYS + "sametime_new.dll"] = (Built(FIX + "clean.dll"), NOW)
PLAN_PRE = ["C:\\windows\\system32\\attrib.exe +r C:\\windows\\system32\\readonly.dll",
            "cmd.exe /c start C:\\tolvbed\\holdfile.exe C:\\windows\\system32\\held.dll",
            "C:\\tolvbed\\holdfile.exe --wait",
            "cmd.exe /c %s plan --json > C:\\tolvbed\\plan.json" % CHECK]
EXPECTED = {"older.dll": "replace now", "newer.dll": "refuse", "sametime_old.dll": "replace now",
            "sametime_new.dll": "refuse", "absent.dll": "skip as absent",
            "readonly.dll": "replace at the restart", "held.dll": "replace at the restart"}


@scenario(answer="cancel", ini=PLAN_INI, files=PLAN_FILES, pre=PLAN_PRE, timeout=40)
def check_plan_predicts_the_patch_and_verify_follows_the_restart(r):
    recs = records(r, r.file("C:\\tolvbed\\plan.json").decode("latin-1"))
    plan = {x["target"].rsplit("\\", 1)[-1]: x for x in recs if x["type"] == "file"}
    counts = [list(EXPECTED.values()).count(d) for d in ("replace now", "replace at the restart")]
    counts.append(len(EXPECTED) - sum(counts))
    got = summary(recs)
    r.check([got.get(k) for k in ("replace now", "replace at the restart", "not replaced")]
            == counts, "plan's summary: expected %r, got %r" % (counts, got))
    for name, decision in EXPECTED.items():
        got = plan.get(name, {}).get("decision")
        r.check(got == decision, "plan for %s: expected %r, got %r" % (name, decision, plan))
    pending = {os.path.basename(p[0].replace("\\", "/")).lower() for p in r.pending}
    for name, decision in EXPECTED.items():
        target = SYS + name
        package = r.file("C:\\pkg\\modules\\2K\\" + name)
        # Replaced now: the package's bytes, and its last-write time, which the copy keeps.
        now = r.file(target) == package and int(os.stat(r.unix(target)).st_mtime) == int(
            os.stat(r.unix("C:\\pkg\\modules\\2K\\" + name)).st_mtime)
        waits = name.lower() in pending
        did = ("replace now" if now else "replace at the restart" if waits
               else "skip as absent" if r.file(target) is None else "refuse")
        r.check(did == decision, "%s: plan said %r, the patcher did %r (pending %r)" % (
            name, decision, did, r.pending))
    code, recs, out = check(r, "verify")
    states = {x["target"].rsplit("\\", 1)[-1]: x.get("state") for x in recs
              if x["type"] == "file"}
    r.check(states.get("held.dll") == "waits for the restart" and code == 1,
            "verify before the restart: exit %r\n%s" % (code, out))
    r.after_restart()
    code, recs, out = check(r, "verify")
    r.check(code == 0 and not findings(recs), "verify after the restart: exit %r\n%s" % (code,
                                                                                        out))


# Package files that cannot work, each listed once under [PRINTPROC] (installed nowhere, so
# only the package file decides): the file placed in modules\2K, the problem word, and words
# of the finding. The patcher's own decision stays "refuse" for each.
SZDD_UNKNOWN_MODE = b"SZDD\x88\xf0\x27\x33" + b"Bl" + (4817).to_bytes(4, "little") + b"\0" * 64
BROKEN = [
    ("gone.dll", {}, "missing", "missing from modules\\2K"),
    ("kvpp.dll", {"kvpp.dll_": Built(FIX + "clean.dll_")}, "missing",
     "holds kvpp.dll_ instead: the patcher looks for the installed name"),
    ("kvdl.dll", {"kvdl.dl_": Built(FIX + "clean.dll_")}, "missing", "holds kvdl.dl_ instead"),
    ("cut.dll", {"cut.dll": Built(FIX + "truncated.dll")}, "damaged", "damaged or cut short"),
    ("odd.dll", {"odd.dll": SZDD_UNKNOWN_MODE}, "not expandable", "not expandable"),
    ("dir.dll", {"dir.dll\\inner.txt": b"x"}, "a folder", "is a folder"),
    # Saved as UTF-8, read in the ANSI code page: the name the patcher looks for is not the
    # name on disk.
    ("caf\xc3\xa9.dll", {"caf\xe9.dll": Built(FIX + "clean.dll")}, "missing", "looks like UTF-8"),
]
BROKEN_FILES = {CHECK: Built("tolvanix-check.exe")}
for _, placed, _, _ in BROKEN:
    for tag in ("NT", "2K"):
        BROKEN_FILES.update({"C:\\pkg\\modules\\%s\\%s" % (tag, n): c for n, c in placed.items()})
BROKEN_INI = "[tolvanix]\r\n[PRINTPROC]\r\n" + "".join(
    "%d=%s\r\n" % (i, case[0]) for i, case in enumerate(BROKEN))


@scenario(args="/V", ini=BROKEN_INI, files=BROKEN_FILES)
def check_says_why_a_package_file_cannot_work(r):
    for command, outcome in (("plan", "decision"), ("verify", "state")):
        code, recs, out = check(r, command)
        r.check(code == 2, "%s: exit %r, expected 2\n%s" % (command, code, out))
        found = findings(recs)
        files = [x for x in recs if x["type"] == "file"]
        for i, (name, _, problem, words) in enumerate(BROKEN):
            rec = next((x for x in files if x["key"] == str(i)), {})
            want = "refuse" if command == "plan" else "package file: " + problem
            r.check(rec.get("problem") == problem and rec.get(outcome) == want,
                    "%s [PRINTPROC] %d: expected %r and %s %r, got %r" % (
                        command, i, problem, outcome, want, rec))
            r.check(any(f["key"] == str(i) and f["level"] == "error" and words in f["message"]
                        for f in found), "%s: no error with %r for key %d:\n%s" % (
                            command, words, i, out))
    code, recs, out = check(r, "package")
    r.check(code == 2 and any(f["level"] == "warning" and "looks like UTF-8" in f["message"]
                              and f["file"].endswith("tolvanix.ini") for f in findings(recs)),
            "package: expected exit 2 and a warning on the UTF-8 name:\n%s" % out)


# Lists that name no file: the patcher replaces nothing, yet asks to restart Windows.
NOTHING = {"C:\\none\\tolvanix.ini": "",
           "C:\\empty\\tolvanix.ini": "[PRINTPROC]\r\n[KVSPLPROC]\r\nSRC=kv.exe\r\n[SrcFiles]\r\n",
           "C:\\gap\\tolvanix.ini": "[SrcFiles]\r\n1=kvsys.dll\r\n"}
HELP = ("--help", "-h", "/?", "help", "plan --help")
# What a person reads, for the clean package: words that must be there and words that must not.
# The commas payload's FileVersion "1, 0, 0, 3" reads as 0.0.0.3 to the gate.
PLAIN = [
    ("package", ["the gate reads it as 0.0.0.3", "companion library: none"],
     ["os class", "maker word", "path: \r", "number: 0x"]),
    ("plan", ["windows: XP or later", "decision: replace now (not installed yet)",
              "log line: ", "file(s) would be replaced now"],
     ["os class", "\\r\\n", "0x0"]),
    ("verify", ["state: absent", "state: not replaced"], ["absent: not patched", "0x0"]),
]


PLAIN_FILES = {k: v for k, v in package()["files"].items() if "kvprc" not in k}
PLAIN_FILES.update(NOTHING)
PLAIN_FILES.update({"C:\\pkg\\modules\\2K\\system.dll": Built(FIX + "commas.dll"),
                    "C:\\pkg\\modules\\2K\\cut.dll": Built(FIX + "truncated.dll")})


@scenario(args="/V", files=PLAIN_FILES,
          ini="[tolvanix]\r\n[PRINTPROC]\r\n0=print.dll\r\n1=cut.dll\r\n[SrcFiles]\r\n0=system.dll\r\n")
def check_counts_helps_and_speaks_plainly(r):
    for folder in ("C:\\none", "C:\\empty", "C:\\gap"):
        for command in ("package", "plan"):
            code, recs, out = check(r, "%s %s" % (command, folder))
            words = [f["message"] for f in findings(recs) if f["level"] == "warning"]
            r.check(code == 1 and any("no list names a file" in w for w in words),
                    "%s %s: expected exit 1 and the warning, got %r\n%s" % (command, folder,
                                                                            code, out))
            if command == "plan":
                s = summary(recs)
                r.check((s.get("replace now"), s.get("replace at the restart"),
                         s.get("not replaced")) == (0, 0, 0), "plan %s: %r" % (folder, s))
    for args in HELP:
        code, out = r.run_console("%s %s" % (CHECK, args))
        r.check(code == 0 and "usage: tolvanix-check" in out and "exit code: 0" in out
                and "decision (plan)" in out, "%s: exit %r\n%s" % (args, code, out))
    for command, present, absent in PLAIN:
        code, out = r.run_console("%s %s" % (CHECK, command))
        for words in present:
            r.check(words in out, "%s: %r missing from\n%s" % (command, words, out))
        for words in absent:
            r.check(words not in out, "%s: %r in\n%s" % (command, words, out))


ANSI_INI = "[tolvanix]\r\n[PRINTPROC]\r\n0=caf\xe9.dll\r\n"


@scenario(args="/V", ini=ANSI_INI, files={CHECK: Built("tolvanix-check.exe")})
def check_prints_ansi_names_right_in_a_console(r):
    # In a console (here Wine's, on a pseudo-terminal in UTF-8) the name written in the ANSI
    # code page reads as the same letters; redirected, it stays the ANSI bytes.
    run = ". \"$0\"; tolv_as_user \"$1\" script -qec \"wine 'C:\\pkg\\tolvanix-check.exe' package\" " \
          "/dev/null"
    shown = subprocess.run(["bash", "-c", run, bed.WINE_ENV, r.prefix], env=r.env, timeout=60,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout
    r.check("caf\u00e9.dll".encode("utf-8") in shown, "console shows %r" % shown[:400])
    code, out = r.run_console("%s package" % CHECK)
    r.check("caf\xe9.dll" in out, "redirected output: %r" % out[:400])
