#!/usr/bin/env python3
"""The end-to-end bed: the real tolvanix.exe under Wine, and what it did.

  python3 tests/e2e/bed.py --list                     the scenarios (CTest runs one test each)
  python3 tests/e2e/bed.py [--build DIR] [--keep] NAME...   runs them (--all: every one)

A scenario is a row of data, row(name, ...), in the other files of this folder. For each, the bed
copies the template prefix (scripts/wine-env.sh), lays out the package in C:\\pkg (the program
under the row's file name, tolvanix.ini, modules\\NT, modules\\2K) and its files, puts the
helper program over Notepad, and starts the helper as the session's first process
(tests/tools/bedhelper.c): it sets the Windows version, runs the set-up commands, starts the
program from C:\\work, records and answers its boxes, and keeps the session alive while the
bed looks.

A restart is seen through Wine itself: ExitWindowsEx(EWX_REBOOT) runs wineboot --end-session,
which carries out the pending renames at once. The helper registers a marker rename before the
program starts; carried out while the session lives means a restart was asked for.
after_restart() starts a new session, which is a restart and carries out every pending rename.
"""
import argparse
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
WINE_ENV = os.path.join(REPO, "scripts", "wine-env.sh")
USER = "tolvtest" if os.getuid() == 0 else pwd.getpwuid(os.getuid()).pw_name
TEMP = "C:\\users\\%s\\Temp" % USER
SYS = "C:\\windows\\system32"
PRTPROCS = SYS + "\\spool\\prtprocs\\w32x86"
RESTART_QUESTION = "You must restart your computer.\nDo you want to restart your conputer now?"
BOX_TEXTS = {"P": RESTART_QUESTION, "L": RESTART_QUESTION,
             "U": "The uninstallation has been successfully completed.",
             "V": re.compile(r"[^\n]*Kestova[^\n]*\n   Version 1\.003")}
T0 = 1500000000  # any fixed time: cases only care which file is newer


class File:
    """A file of the build's testfiles folder, e.g. File("v1_0_0_9.dll_", when=-100) (a last
    write time in seconds from T0), File("zero.dll")."""

    def __init__(self, name, when=None):
        self.name, self.when = name, when


class Link:
    """A symbolic link, made on the Unix side, to another path of the prefix."""

    def __init__(self, target):
        self.target = target


class Case:
    """One listed file: its list, name, installed and package payloads ((name, time) or None) and the outcome the run must reach: "copied" (the target holds the package file,
    expanded), "version" or "time" (refused with that line), "lzfail" (its expansion failed:
    LZCopy, then CopyLZFile line), "nosource" (with /FOW, no package file: CopyLZFile line),
    "kept" (no line, target unchanged: not present, past a gap or a limit, or waiting for the
    restart). source: the package file's name, where it is not the listed one (SRC)."""

    def __init__(self, name, installed, package, outcome, section="PRINTPROC", source=None):
        self.name, self.installed, self.package = name, *(
            File(*f) if isinstance(f, tuple) else f for f in (installed, package))
        self.outcome, self.section = outcome, section
        self.source_name = name if source is None else source

    def target(self):
        return (PRTPROCS if self.section == "PRINTPROC" else SYS) + "\\" + self.name

    def source(self, tag, package):
        return "%s\\modules\\%s\\%s" % (package, tag, self.source_name)

    def line(self, tag, package):
        t, s = self.target(), self.source(tag, package)
        return {"version": "version of %s is greater than %s \r\n" % (t, s),
                "time": "%s is older than %s \r\n" % (s, t),
                "lzfail": "LZCopy %s at CopyLZFile FALSE \r\n" % t,
                "nosource": ""}.get(self.outcome, "") + (
            "CopyLZFile %s at CopySplFile FALSE \r\n" % t
            if self.outcome in ("lzfail", "nosource") else "")


DEFAULTS = dict(windows="win7", program="tolvanix.exe", args="", cmdline=None, cwd="C:\\work",
                ini="[tolvanix]\r\n", cases=(), tag="2K", src=None, package="C:\\pkg", files={},
                pre=(), setenv={}, env={}, dll_overrides=None, winedebug=None, watch=None,
                answer="cancel", timeout=20, exit=0, mode=None, caption=None, log=None,
                calls=None, check=None)
ROWS = {}


def row(name, **fields):
    """Declares a scenario. Set-up: windows (win98, nt40, win2k, winxp, win7, win10), program
    (its file name in the package folder), args, or cmdline ("{program}" for its path), cwd,
    ini (text, a {section: [names]} dict, or None for no file), cases (Case rows: their lists,
    files and outcomes), tag and src (the package folder and SRC the cases use), package (the
    package folder), files ({path: text, bytes, File, Link, (content, time) or None to remove;
    a path ending in \\ is a folder}), pre (set-up command lines; "{helper}" is the helper
    program), setenv (the program's environment), env (the Wine session's, e.g. TZ),
    dll_overrides, winedebug, watch (a function called every 10 ms while the program runs),
    answer (ok, cancel, escape, or a list "ok,cancel"), timeout.
    What must be seen: exit (the exit code), mode (P, L, U, V, D: its box, Notepad and log;
    None: no box at all), caption, log (the L mode's log, with
    "{pp}" and "{sys}" for the cases' lines; None: "{pp}{sys}"; False: no log file; ...: not
    looked at), calls (the stand-in library's records, "<file name> <event> <watched>"; the
    full paths are in Run.records), check (a function for what no field expresses)."""
    if name in ROWS:
        raise ValueError("two scenarios named " + name)
    unknown = set(fields) - set(DEFAULTS)
    if unknown:
        raise ValueError("%s: unknown fields %s" % (name, sorted(unknown)))
    ROWS[name] = dict(DEFAULTS, name=name, **fields)


class Failure(AssertionError):
    pass


def shell(command, *args, env=None):
    """Runs a function of scripts/wine-env.sh; returns its output."""
    return subprocess.run(["bash", "-c", '. "$0"; %s "$@"' % command, WINE_ENV] + list(args),
                          env=env, check=True, stdout=subprocess.PIPE, text=True).stdout


def parse(path):
    """key=value lines, values escaped as the helper escapes them."""
    fields = {}
    for line in open(path, "rb").read().decode("latin-1").splitlines():
        key, _, value = line.partition("=")
        fields[key] = re.sub(r"\\(x..|.)", lambda m: chr(int(m.group(1)[1:], 16)) if len(
            m.group(1)) == 3 else {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), value)
    return fields


def pairs(text):
    """PendingFileRenameOperations as (name, new name) pairs, the bed's marker left out."""
    names = text.split("\n")
    found = zip(names[0::2], names[1::2] + [""])
    return [p for p in found if p[0] and "\\tolvbed\\restart.src" not in p[0].lower()]


class Run:
    def __init__(self, sc, build, work):
        self.sc, self.build, self.work = sc, build, work
        self.prefix = os.path.join(work, "prefix")
        self.env = dict(os.environ, **sc["env"])
        self.env["WINEDLLOVERRIDES"] = ";".join(filter(None, [sc["dll_overrides"],
                                                              "notepad.exe=n"]))
        if sc["winedebug"]:
            self.env["WINEDEBUG"] = sc["winedebug"]
        self.log = os.path.join(work, "wine.log")
        self.session, self.consoles, self.fields, self.exit_code = None, 0, {}, None
        self.boxes, self.notepads, self.pending, self.calls, self.records = [], [], [], [], []

    def unix(self, path):
        drive, _, rest = path.partition(":")
        assert drive.upper() == "C", path
        return os.path.join(self.prefix, "drive_c", *[p for p in rest.split("\\") if p])

    def file(self, path):
        try:
            return open(self.unix(path), "rb").read()
        except (FileNotFoundError, NotADirectoryError, IsADirectoryError):
            return None

    def listdir(self, path):
        return sorted(os.listdir(self.unix(path))) if os.path.isdir(self.unix(path)) else []

    def testfile(self, name):
        return open(os.path.join(self.build, "testfiles", name), "rb").read()

    def place(self, path, content):
        target = self.unix(path)
        if isinstance(content, tuple):
            self.place(path, content[0])
            os.utime(target, (content[1], content[1]))
            return
        if isinstance(content, File) and content.when is not None:
            return self.place(path, (File(content.name), T0 + content.when))
        if content is None:
            shutil.rmtree(target, ignore_errors=True) if os.path.isdir(target) else (
                os.path.exists(target) and os.remove(target))
            return
        os.makedirs(target if path.endswith("\\") else os.path.dirname(target), exist_ok=True)
        if isinstance(content, Link):
            os.symlink(self.unix(content.target), target)
        elif isinstance(content, File):
            shutil.copyfile(os.path.join(self.build, "testfiles", content.name), target)
        elif not path.endswith("\\"):
            open(target, "wb").write(content.encode("latin-1") if isinstance(content, str)
                                     else content)

    def stage(self):
        sc = self.sc
        for folder in ("C:\\pkg\\modules\\NT\\", "C:\\pkg\\modules\\2K\\", "C:\\work\\"):
            self.place(folder, "")
        files = {sc["package"] + "\\" + sc["program"]: File("../tolvanix.exe"),
                 "C:\\tolvbed\\bedhelper.exe": File("bedhelper.exe"),
                 "C:\\windows\\notepad.exe": File("bedhelper.exe"),
                 SYS + "\\notepad.exe": File("bedhelper.exe")}
        ini, lists = sc["ini"], {}
        for case in sc["cases"]:
            if case.installed:
                files[case.target()] = case.installed
            if case.package:
                files[case.source(sc["tag"], sc["package"])] = case.package
            lists.setdefault(case.section, []).append(case.name)
        if isinstance(ini, str) and lists:
            ini = dict(lists, **{"": ini})
        if isinstance(ini, dict):
            text = ini.get("", "[tolvanix]\r\n")
            for section, names in ini.items():
                if section:
                    src = "SRC=%s\r\n" % sc["src"] if section == "KVSPLPROC" and sc["src"] is \
                        not None else ""
                    text += "[%s]\r\n%s" % (section, src) + "".join(
                        "%s=%s\r\n" % (item if isinstance(item, tuple) else (i, item))
                        for i, item in enumerate(names))
            ini = text
        if ini is not None:
            files[sc["package"] + "\\tolvanix.ini"] = ini
        files.update(sc["files"])
        for path, content in files.items():
            self.place(path, content)
        helper = "C:\\tolvbed\\bedhelper.exe"
        command = sc["cmdline"] or '"{program}"' + (" " + sc["args"] if sc["args"] else "")
        plan = [("version", sc["windows"]), ("answer", sc["answer"]), ("cwd", sc["cwd"]),
                ("cmdline", command.format(program=sc["package"] + "\\" + sc["program"])),
                ("timeout_ms", str(sc["timeout"] * 1000))]
        plan += [("pre", line.format(helper=helper)) for line in sc["pre"]]
        plan += [("setenv", "%s=%s" % kv) for kv in sc["setenv"].items()]
        open(self.unix("C:\\tolvbed\\plan.txt"), "wb").write(
            "".join("%s=%s\n" % kv for kv in plan).encode("latin-1"))
        if os.getuid() == 0:
            subprocess.run(["chown", "-R", "tolvtest:", os.path.join(self.prefix, "drive_c")],
                           check=True)

    def wine(self, *args):
        with open(self.log, "ab") as log:
            return subprocess.Popen(["bash", "-c", '. "$0"; tolv_as_user "$@"', WINE_ENV,
                                     self.prefix, "wine"] + list(args), env=self.env,
                                    stdout=log, stderr=subprocess.STDOUT)

    def end_session(self):
        if os.path.isdir(self.prefix):
            shell("tolv_as_user", self.prefix, "wineserver", "-k", env=self.env)
        if self.session:
            self.session.wait(timeout=10)
            self.session = None

    def execute(self):
        os.makedirs(self.work)
        if os.getuid() == 0:
            shutil.chown(self.work, USER, USER)
        shell("tolv_new_prefix", self.prefix)
        self.stage()
        self.session = self.wine("C:\\tolvbed\\bedhelper.exe")
        result = self.unix("C:\\tolvbed\\result.txt")
        deadline = time.monotonic() + self.sc["timeout"] + 30
        while time.monotonic() < deadline and self.session.poll() is None:
            if os.path.exists(result):
                self.fields = parse(result)
                if self.fields.get("done") == "1":
                    break
            if self.sc["watch"]:
                self.sc["watch"](self)
            time.sleep(0.01)
        f = self.fields
        self.exit_code = int(f["exit"]) if "exit" in f else None
        self.elapsed_ms = int(f.get("elapsed_ms", -1))
        self.pending = pairs(f.get("pending", ""))
        self.boxes = [{k[len("box%d." % i):]: v for k, v in f.items()
                       if k.startswith("box%d." % i)} for i in range(int(f.get("boxes", 0)))]
        folder = self.unix("C:\\tolvbed\\notepad")
        self.notepads = [dict(parse(os.path.join(folder, n)), content=self.file(
            "C:\\tolvbed\\notepad\\" + n[:-4] + ".copy")) for n in sorted(os.listdir(folder))
            if n.endswith(".txt")] if os.path.isdir(folder) else []
        self.records = (self.file("C:\\tolvbed\\standin.txt") or b"").decode(
            "latin-1").splitlines()
        self.calls = [line.split(" ", 1)[0].rsplit("\\", 1)[-1] + " " + line.split(" ", 1)[1]
                      for line in self.records]
        self.restart_requested = os.path.exists(self.unix("C:\\tolvbed\\restart.dst"))

    def run_console(self, cmdline):
        """A console command line in the session, its output captured: (exit code, text)."""
        out = "C:\\tolvbed\\console%d.txt" % self.consoles
        self.consoles += 1
        code = self.wine("cmd.exe", "/c", "%s > %s" % (cmdline, out)).wait(timeout=60)
        return code, (self.file(out) or b"").decode("latin-1")

    def after_restart(self):
        """Ends the session and starts a new one: the prefix after a restart of Windows."""
        self.end_session()
        self.wine("cmd.exe", "/c", "exit").wait(timeout=60)

    def check(self, condition, message):
        if not condition:
            raise Failure(message)

    def expect(self, what, want, got):
        self.check(want == got or hasattr(want, "fullmatch") and want.fullmatch(got or ""),
                   "%s:\n  expected %r\n  got      %r" % (what, want, got))

    def log_tail(self):
        """The L mode's end: Notepad from the system folder on a fresh KPP file of the temp
        folder, gone after the run. Returns what Notepad found (None: no file)."""
        self.expect("Notepad starts", 1, len(self.notepads))
        note = self.notepads[0]
        self.expect("Notepad's command line", "notepad  " + note["arg"], note["cmdline"])
        self.expect("Notepad's program", SYS.lower() + "\\notepad.exe", note["module"].lower())
        self.expect("the log's name", re.compile(r"(?i)%s\\KPP[0-9A-F]+\.tmp" % re.escape(TEMP)),
                    note["arg"])
        self.check(self.file(note["arg"]) is None, "the log is still there after the run")
        return note["content"] if note["existed"] == "1" else None

    def verify(self):
        sc, f = self.sc, self.fields
        self.check(f.get("marker") == "1" and f.get("done") == "1" and "error" not in f and
                   "timeout" not in f, "the session did not finish well: %r" % f)
        for i, line in enumerate(sc["pre"]):
            self.expect("set-up command %r ends with" % line, "0", f.get("pre%d" % i))
        self.expect("exit code", sc["exit"], self.exit_code)
        for box in self.boxes:
            self.expect("the box: only OK and Cancel, no icon, no owner, from the program",
                        "1:OK,2:Cancel icon=0 owner=0 program=1", box["look"])
        mode = sc["mode"]
        self.expect("boxes", 0 if mode in (None, "D") else 1, len(self.boxes))
        if mode in BOX_TEXTS:
            self.expect("the box's text", BOX_TEXTS[mode], self.boxes[0]["text"])
            self.expect("the caption", sc["caption"] or "Kestova PrintProcessor patch",
                        self.boxes[0]["caption"])
        answers = sc["answer"].split(",")
        self.expect("a restart asked for (OK in a box)", any(
            answers[min(i, len(answers) - 1)] == "ok" for i in range(len(self.boxes))),
            self.restart_requested)
        if mode in ("P", "U", "V"):
            self.expect("Notepad starts", [], self.notepads)
        if sc["calls"] is not None:
            self.expect("the stand-in library's records", sc["calls"], self.calls)
        cases, tag, package = sc["cases"], sc["tag"], sc["package"]
        if mode == "L" and sc["log"] is not ...:
            lines = {k: "".join(c.line(tag, package) for c in cases if (c.section == "PRINTPROC")
                                == (k == "pp")) for k in ("pp", "sys")}
            want = None if sc["log"] is False else (sc["log"] or "{pp}{sys}").format(**lines)
            got = self.log_tail()
            self.expect("the log", want, got.decode("latin-1") if got is not None else None)
        for case in cases:
            held = case.package if case.outcome == "copied" else case.installed
            want = self.testfile(held.name.rstrip("_")) if held else None
            self.check(self.file(case.target()) == want, "%s %s (outcome %s) does not hold %s" % (
                case.section, case.name, case.outcome, held and held.name))
        if cases and not self.pending:
            left = [n for folder in (PRTPROCS, SYS) for n in self.listdir(folder)
                    if re.fullmatch(r"(?i)kv[0-9a-f]+\.tmp", n)]
            left += [n for n in self.listdir(TEMP) if n.upper().startswith("KPP")]
            self.expect("expansions or logs left behind", [], left)
        if sc["check"]:
            sc["check"](self)

    def describe(self):
        tail = open(self.log, "rb").read()[-1500:].decode("latin-1") if os.path.exists(
            self.log) else ""
        return ("  command line %r on %s; exit %r; boxes %r\n  Notepad %r\n  pending %r\n"
                "  stand-in %r\n  helper %r\n  wine: %s" % (
                    self.sc["args"] or self.sc["cmdline"], self.sc["windows"], self.exit_code,
                    self.boxes, self.notepads, self.pending, self.calls, self.fields, tail))


def run(name, build, keep=False):
    work = os.path.join(os.environ.get("TOLVANIX_E2E_RUN_DIR") or shell(
        'echo "$TOLV_WORK"').strip(), "%s.%d" % (name, os.getpid()))
    shell("tolv_ensure_template")
    r, start, failure = Run(ROWS[name], build, work), time.monotonic(), None
    try:
        r.execute()
        r.verify()
    except Failure as e:
        failure = "%s\n%s" % (e, r.describe())
    finally:
        r.end_session()
        if not keep:
            shutil.rmtree(work, ignore_errors=True)
    print("%s %s in %.1f s%s" % ("FAIL" if failure else "PASS", name, time.monotonic() - start,
                                 "\n  " + failure.replace("\n", "\n  ") if failure else ""))
    return failure is None


def load():
    sys.path.insert(0, HERE)
    for name in sorted(os.listdir(HERE)):
        if name.endswith(".py") and name != "bed.py":
            __import__(name[:-3])


def main():
    sys.modules.setdefault("bed", sys.modules[__name__])
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="*")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--all", action="store_true")
    parser.add_argument("--keep", action="store_true", help="keep the scenarios' prefixes")
    parser.add_argument("--build", default=os.path.join(REPO, "build", "windows"))
    args = parser.parse_args()
    load()
    if args.list:
        print("\n".join(ROWS))
        return 0
    names = list(ROWS) if args.all else args.names
    if not names or set(names) - set(ROWS):
        parser.error("unknown scenario(s): %s" % " ".join(set(names) - set(ROWS)))
    xvfb = None
    if not os.environ.get("DISPLAY"):
        os.environ["DISPLAY"], xvfb = shell("tolv_start_xvfb").split()
    try:
        failed = [n for n in names if not run(n, os.path.abspath(args.build), args.keep)]
    finally:
        if xvfb:
            os.kill(int(xvfb), signal.SIGTERM)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
