"""The main job on a sample machine: a throwaway Wine prefix (Windows 7) with an older driver
installed, the sample package in C:\\pkg, and tolvanix.exe run in the L mode.

Prints the package check before the patch; a table of every listed file, installed before
and after the run, with what happened to it and why (in the words of the plan made before the
run); the closing box; the error log the run showed in Notepad; the operations waiting for the
restart; what verify says before and after the restart; and the diagnostic report of the
patched machine.
Started by scripts/demo, which builds everything and gives it a display."""
import json
import os
import shutil
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
import bed  # noqa: E402
from bed import File  # noqa: E402

BUILD = os.path.join(REPO, "build", "windows")
BUILD64 = os.path.join(REPO, "build", "windows-x64")
SYS = "C:\\windows\\system32\\"
PRTPROCS = SYS + "spool\\prtprocs\\w32x86\\"
CHECK = "C:\\pkg\\tolvanix-check.exe"
DAY = 86400
NOW = int(time.time())

INI = """[tolvanix]\r
Manufacturer=Kestova\r
\r
[PRINTPROC]\r
0=kvpp7x.dll\r
1=kvppnew.dll\r
\r
[KVSPLPROC]\r
SRC=kvhl05c.exe\r
0=kvhl05c.exe\r
1=kvhl05d.exe\r
\r
[SrcFiles]\r
0=kvqrt7xb.dll\r
1=kvsrv05c.ksi\r
"""

FILES = {
    CHECK: File("../tolvanix-check.exe"),
    "C:\\pkg\\kvprc7a.dll": File("standin.dll"),
    # The package: one file compressed, the others plain.
    "C:\\pkg\\modules\\2K\\kvpp7x.dll": File("v1_0_0_10.dll_"),
    "C:\\pkg\\modules\\2K\\kvppnew.dll": File("v1_0_0_0.dll"),
    "C:\\pkg\\modules\\2K\\kvhl05c.exe": File("helper.exe"),
    "C:\\pkg\\modules\\2K\\kvqrt7xb.dll": File("v1_0_0_9.dll"),
    "C:\\pkg\\modules\\2K\\kvsrv05c.ksi": (File("plain_b.dll"), NOW - 1 * DAY),
    # The older driver on the machine.
    PRTPROCS + "kvpp7x.dll": (File("v1_0_0_9.dll"), NOW - 300 * DAY),
    SYS + "kvhl05c.exe": (File("helper_old.exe"), NOW - 300 * DAY),
    SYS + "kvqrt7xb.dll": (File("v1_0_0_10.dll"), NOW - 300 * DAY),
    SYS + "kvsrv05c.ksi": (File("plain_a.dll"), NOW - 300 * DAY),
}
# The same files for Windows NT 4.0.
for _name in ("kvpp7x.dll", "kvppnew.dll", "kvhl05c.exe", "kvqrt7xb.dll", "kvsrv05c.ksi"):
    FILES["C:\\pkg\\modules\\NT\\" + _name] = FILES["C:\\pkg\\modules\\2K\\" + _name]
# Every listed installed file and what the run must do to it: the story the table tells.
TARGETS = {PRTPROCS + "kvpp7x.dll": "replaced now", PRTPROCS + "kvppnew.dll": "replaced now",
           SYS + "kvhl05c.exe": "at the restart", SYS + "kvhl05d.exe": "skipped",
           SYS + "kvqrt7xb.dll": "refused", SYS + "kvsrv05c.ksi": "replaced now"}
PRE = [
    # The driver's helper program is running: its file cannot be replaced until the restart.
    "hold " + SYS + "kvhl05c.exe",
    "cmd.exe /c %s package C:\\pkg > C:\\tolvbed\\package.txt" % CHECK,
    "cmd.exe /c %s plan C:\\pkg --json > C:\\tolvbed\\plan.json" % CHECK,
]


def progress(text):
    print(text, flush=True)


def heading(text):
    print("\n== %s ==" % text)


def records(text):
    return [json.loads(line) for line in text.splitlines() if line.strip().startswith("{")]


def file_state(r, path):
    if r.file(path) is None:
        return "absent"
    st = os.stat(r.unix(path))
    return "%d bytes, %s" % (st.st_size, time.strftime("%Y-%m-%d", time.gmtime(st.st_mtime)))


def before_state(r, target):
    entry = FILES.get(target)
    if entry is None:
        return "absent"
    payload, when = entry
    size = len(r.testfile(payload.name))
    return "%d bytes, %s" % (size, time.strftime("%Y-%m-%d", time.gmtime(when)))


def before_bytes(r, target):
    entry = FILES.get(target)
    return entry and r.testfile(entry[0].name)


def outcome(r, target, plan):
    """What the run did to the file, as seen in the prefix, and why, in the plan's words; the
    expected outcome too where it is another."""
    waiting = any(t and t.lower().endswith(r.remap(target).lower()) for _, t in r.pending)
    after = r.file(target)
    if waiting:
        what = "at the restart"
    elif after is None:
        what = "skipped"
    elif after != before_bytes(r, target):
        what = "replaced now"
    else:
        what = "refused"
    why = plan.get("reason", "")
    old, new = plan.get("installed version"), plan.get("package version")
    if what in ("replaced now", "refused") and (old or new):
        why += " (installed %s, package %s)" % (old or "none", new or "none")
    if what != TARGETS[target]:
        r.failures.append("%s: %s, where the demo expects %s" % (target, what, TARGETS[target]))
        what += " (EXPECTED %s)" % TARGETS[target]
    return "%s: %s" % (what, why) if why else what


def verify(r, title, expected):
    code, out = r.run_console("%s verify C:\\pkg --json" % CHECK)
    heading("%s: what tolvanix-check verify says of each listed file (exit code %d)" % (
        title, code))
    if code != expected:
        r.failures.append("%s, verify exits %d, where the demo expects %d" % (
            title, code, expected))
    print("%-44s %s" % ("installed file", "state (reason)"))
    for x in records(out):
        if x.get("type") == "file":
            state = x.get("state", "")
            if x.get("reason"):
                state += " (%s)" % x["reason"]
            print("%-44s %s" % (x["target"].replace(SYS, "system32\\"), state))
        elif x.get("type") == "finding":
            print("%s: %s %s" % (x["level"], x.get("file", ""), x.get("message", "")))


def show(r, started):
    heading("tolvanix-check package C:\\pkg: the package as the patcher reads it (before the "
            "patch)")
    print((r.file("C:\\tolvbed\\package.txt") or b"").decode("latin-1").replace("\r\n", "\n")
          .rstrip())
    plan = {x["target"]: x for x in records((r.file("C:\\tolvbed\\plan.json") or b"")
                                            .decode("latin-1")) if x.get("type") == "file"}
    heading("Every listed file: installed before and after the L-mode run, what happened and "
            "why")
    row = "%-42s %-23s %-23s %s"
    print(row % ("installed file", "before", "after", "outcome: why"))
    for target in TARGETS:
        p = plan.get(r.remap(target), {})
        print(row % (r.remap(target).replace(SYS, "system32\\"), before_state(r, target),
                     file_state(r, target), outcome(r, target, p)))
    print("(every sample payload has the same size: the dates and the outcome tell them apart;\n"
          " the installed version of a file held open reads as none, for the patcher too)")
    heading("The closing box")
    for box in r.boxes:
        print("caption %r, text %r, answered Cancel" % (box["caption"], box["text"]))
    heading("The error log of the L mode, as Notepad was given it")
    for note in r.notepads:
        print("Notepad command line: %r" % note["cmdline"])
        print((note["content"] or b"(no log: nothing failed)").decode("latin-1").rstrip())
    heading("Operations waiting for the restart (file -> its new name)")
    for source, target in r.pending:
        print("%s -> %s" % (source, target or "(delete)"))
    verify(r, "Before the restart", 1)  # the held file waits

    r.after_restart()
    heading("After the restart: every listed installed file")
    for target in TARGETS:
        print("%-44s %s" % (r.remap(target).replace(SYS, "system32\\"), file_state(r, target)))
    verify(r, "After the restart", 0)

    code, out = r.run_console("C:\\pkg\\tolvanix.exe /D")
    report = bed.TEMP + "\\tolvanix.log"
    for _ in range(100):
        if r.file(report) is not None:
            break
        time.sleep(0.1)
    heading("tolvanix.exe /D: the diagnostic report (%s)" % report)
    if r.file(report) is None:
        r.failures.append("tolvanix.exe /D wrote no report")
    print((r.file(report) or b"(no report)").decode("latin-1").replace("\r\n", "\n").rstrip())
    print("\nThe patch run took %.1f s (its fixed waits: 1.5 s + 1.0 s around the spooler, "
          "2.0 s before the log is deleted); the whole demo %.0f s." % (
              (r.elapsed_ms or 0) / 1000.0, time.monotonic() - started))


def main():
    sc = dict(bed.DEFAULTS, name="demo", args="/L", ini=INI, files=FILES, pre=PRE, timeout=60)
    # Its own folder, so that a demo never takes the prefix of another one running.
    work = os.path.join(bed.shell('echo "$TOLV_WORK"').strip(), "demo.%d" % os.getpid())
    progress("Making the sample machine: a Wine prefix (the first time about 20 s), the "
             "package in C:\\pkg, an older driver installed...")
    # Where 32-bit programs cannot run, the sample machine is 64-bit Windows and the 64-bit
    # programs patch it, from the package's modules\X64, as the tests then do.
    as64 = not bed.can_run32()
    if as64:
        progress("This machine cannot run 32-bit programs: the sample machine is 64-bit Windows, "
                 "patched by the 64-bit build from modules\\X64 (print processors in "
                 "spool\\prtprocs\\x64).")
    bed.shell("tolv_ensure_template", "win64" if as64 else "win32")
    if os.path.exists(work):
        shutil.rmtree(work)
    r = bed.Run(sc, BUILD, work, BUILD64, as64)
    r.failures = []
    started = time.monotonic()
    try:
        progress("Running tolvanix-check package and plan, then tolvanix.exe /L...")
        r.execute()
        if r.fields.get("done") != "1" or r.exit_code != 0 or len(r.boxes) != 1:
            print("The patch run did not end in its closing box with exit code 0:\n" +
                  r.describe(), file=sys.stderr)
            return 1
        show(r, started)
    finally:
        r.end_session()
        shutil.rmtree(work, ignore_errors=True)
    if r.failures:
        print("\nThe demo did not go as it says:\n  " + "\n  ".join(r.failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
