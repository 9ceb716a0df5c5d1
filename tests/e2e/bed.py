#!/usr/bin/env python3
"""The end-to-end bed: the real programs under Wine, and what they did.
  python3 tests/e2e/bed.py --list | [--build DIR] [--build64 DIR] [--keep] NAME... | --all
A scenario is a row(name, ...) of data in the other files here: a copy of the template prefix,
the package in C:\\pkg, and tests/tools/bedhelper.c as Notepad and as the session's first
process, which runs the program from C:\\work and answers its boxes. OK in a box restarts:
wineboot carries out the pending renames, the helper's marker among them."""
import collections
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_ENV = os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts", "wine-env.sh")
USER = "tolvtest" if os.getuid() == 0 else pwd.getpwuid(os.getuid()).pw_name
TEMP = "C:\\users\\%s\\Temp" % USER
SYS = "C:\\windows\\system32"
PRTPROCS = SYS + "\\spool\\prtprocs\\w32x86"
PRTPROCS64 = SYS + "\\spool\\prtprocs\\x64"  # what the 64-bit spooler loads
WOW64 = "C:\\windows\\syswow64"  # system32 as a 32-bit program sees it on 64-bit Windows
RESTART = "You must restart your computer.\nDo you want to restart your conputer now?"
BOX_TEXTS = {"P": RESTART, "L": RESTART, "U": "The uninstallation has been successfully completed.",
             "V": re.compile(r"[^\n]*Kestova[^\n]*\n   Version 1\.003"), "R": "This patch cannot be "
             "applied on this processor type: this package has no files for it.\nNothing was changed."}
T0 = 1500000000  # any fixed time: cases only care which file is newer


# A file of the build's testfiles folder, with a last-write time in seconds from T0; a symbolic
# link, made on the Unix side, to another path of the prefix.
File = collections.namedtuple("File", "name when", defaults=(None,))
Link = collections.namedtuple("Link", "target")
COMPANION = {"C:\\pkg\\kvprc7a.dll": File("standin.dll")}
VICTIM = "C:\\tolvbed\\victim.txt"  # what a planted link leads to


class Case:
    """A listed file: name, installed and package payloads ((testfile, time) or None), outcome:
    copied (holds the package file, expanded), version or time (refused with that line), lzfail
    (expansion failed), nosource (/FOW, no package file), unread, unreadsrc (the installed, the
    package file cannot be read), notplain (name refused), kept (no line, as it was). x64: the
    64-bit program's print-processor folder."""

    def __init__(self, name, installed, package, outcome, section="PRINTPROC", source=None,
                 x64=False):
        self.name, self.installed, self.package = name, *(
            File(*f) if isinstance(f, tuple) else f for f in (installed, package))
        self.outcome, self.section, self.x64 = outcome, section, x64
        self.source_name = name if source is None else source

    def target(self):
        return ((PRTPROCS64 if self.x64 else PRTPROCS) if self.section == "PRINTPROC" else SYS) + \
            "\\" + self.name

    def source(self, tag, package):
        return "%s\\modules\\%s\\%s" % (package, tag, self.source_name)

    def line(self, tag, package):
        t, s = self.target(), self.source(tag, package)
        refuser = "CopyPrtProcFile" if self.section == "PRINTPROC" else "CopySysFileIfPresent"
        return {"version": "version of %s is greater than %s \r\n" % (t, s),
                "time": "%s is older than %s \r\n" % (s, t),
                "unread": "CreateFile %s at CopySplFile FALSE \r\n" % t,
                "unreadsrc": "CreateFile %s at CopySplFile FALSE \r\n" % s,
                "notplain": "IsPlainFileName %s at %s FALSE \r\n" % (self.name, refuser),
                "lzfail": "LZCopy %s at CopyLZFile FALSE \r\n" % t}.get(self.outcome, "") + (
            "CopyLZFile %s at CopySplFile FALSE \r\n" % t if self.outcome in ("lzfail", "nosource")
            else "")


DEFAULTS = dict(arch="win32", program="tolvanix.exe", windows="win7", args="",
                ini="[tolvanix]\r\n", cases=(), tag="2K", src=None,
                package="C:\\pkg", files={}, pre=(), setenv={}, env={}, watch=None,
                answer="cancel", timeout=20, exit=0, mode=None, log=None, calls=None, check=None,
                only32=False, second=())
ROWS = {}


def row(name, **fields):
    """Declares a scenario. Set-up: arch (win64: a 64-bit prefix, the package's 64-bit half in
    modules\\X64 and tolvanix64.exe beside tolvanix.exe); program (the file of the package started,
    "tolvanix.exe" by default); windows (win98, nt40, win2k, winxp, win7, win10); args;
    ini (text, {section: [name or (key, name)]}, None: no file); cases (Case rows), their tag
    and src; the package folder; files ({path: text, bytes, File, Link, (content, time), None to
    remove; "...\\": a folder}); pre (commands, or the helper's "hold PATH": reads shared, as a
    loaded library; "lock PATH": no sharing; "window CLASS|TITLE"); setenv (the program's
    environment); env (Wine's); watch (called every 10 ms in the run); answer ("ok", "cancel");
    timeout; second (other runs of the program, (trigger, args): bedhelper.c says when; their
    exit codes in fields "second<N>", their boxes in others). To be seen: exit; mode (P, L, U, V,
    D: its box; None: no box); log (L mode: "{pp}", "{sys}" the cases' lines; None "{pp}{sys}";
    False: no log file; ...: not looked at); calls (the stand-in's "<file> <event> <watched>");
    check (the rest). Mode R: the refusal's OK box.
    only32: what the row shows is the 32-bit program's alone (NT 4.0, the "/OS=" choice): never
    run as 64-bit Windows runs it.

    Where 32-bit programs cannot run, a row of a 32-bit prefix runs as 64-bit Windows runs it
    (Run's as64), and a row that needs the 32-bit program itself is skipped."""
    assert name not in ROWS and set(fields) <= set(DEFAULTS), name
    ROWS[name] = dict(DEFAULTS, name=name, **fields)


def shell(command, *args, env=None):
    """Runs a function of scripts/wine-env.sh; returns its output."""
    return subprocess.run(["bash", "-c", '. "$0"; %s "$@"' % command, WINE_ENV] + list(args),
                          env=env, check=True, stdout=subprocess.PIPE, text=True).stdout


def parse(path):
    """The helper's key=value lines, unescaped."""
    return {k: re.sub(r"\\(x..|.)", lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 3
                      else {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), v)
            for k, _, v in (line.partition("=") for line in
                            open(path, "rb").read().decode("latin-1").splitlines())}


class Run:
    def __init__(self, sc, build, work, build64=None, as64=False):
        self.sc, self.build, self.work = sc, build, work
        # as64: a row of a 32-bit prefix run where 32-bit programs cannot run, as 64-bit Windows
        # runs it: the 64-bit programs in a 64-bit prefix, the package's half for this system in
        # modules\X64, the companion library there too, and the print processors in x64. Paths
        # the row names, and what it expects to see, are read through remap().
        self.as64, self.arch = as64, "win64" if as64 else sc["arch"]
        # A 64-bit prefix runs the 64-bit build's helper, stand-ins and payloads (built() and
        # testfile() read the same build, so a row compares what it placed).
        self.tools = build64 if self.arch == "win64" else build
        self.prefix, self.log = os.path.join(work, "prefix"), os.path.join(work, "wine.log")
        # Wine runs its own Notepad over the helper unless told otherwise.
        self.env = {**os.environ, "WINEDLLOVERRIDES": "notepad.exe=n", **sc["env"]}
        self.session, self.fields, self.exit_code = None, {}, None
        self.boxes, self.others, self.notepads, self.pending, self.calls, self.records = [[]] * 6

    def remap(self, x):
        if not self.as64:
            return x
        if isinstance(x, (list, tuple)):
            return type(x)(map(self.remap, x))
        if isinstance(x, dict):
            return {self.remap(k): self.remap(v) for k, v in x.items()}
        if isinstance(x, bytes):
            return self.remap(x.decode("latin-1")).encode("latin-1")
        pattern = hasattr(x, "fullmatch") and x
        if pattern:
            x = x.pattern
        if not isinstance(x, str):
            return x
        package = self.sc["package"]
        for old, new in (("modules\\" + self.sc["tag"], "modules\\X64"),
                         ("\\prtprocs\\w32x86", "\\prtprocs\\x64")) + tuple(
                ("%s\\%s" % (package, n), "%s\\modules\\X64\\%s" % (package, n))
                for n in ("kvprc7a.dll", "kvprcm01.dll", "kvdep.dll")):
            if pattern:
                old, new = re.escape(old), re.escape(new)
            x = re.sub(re.escape(old), lambda m: new.lower() if m.group().islower() else new, x,
                       flags=re.I)
        return re.compile(x, pattern.flags) if pattern else x

    def unix(self, path, raw=False):
        path = path if raw else self.remap(path)
        return os.path.join(self.prefix, "drive_c", *[p for p in path[2:].split("\\") if p])

    def file(self, path):
        return open(self.unix(path), "rb").read() if os.path.isfile(self.unix(path)) else None

    def listdir(self, path):
        return sorted(os.listdir(self.unix(path))) if os.path.isdir(self.unix(path)) else []

    def testfile(self, name):  # the file as place() put it
        return open(self.built(name), "rb").read()

    def built(self, name):  # from the prefix's build where it has it, "x86:..." the 32-bit one
        tool = os.path.join(self.tools, "testfiles", name)
        return tool if os.path.exists(tool) else os.path.join(self.build, "testfiles", name[
            4 * name.startswith("x86:"):])

    def place(self, path, content, raw=False):
        target, when = self.unix(path, raw), None
        if isinstance(content, File):
            when = content.when is not None and T0 + content.when
        elif isinstance(content, tuple) and not isinstance(content, Link):
            content, when = content
        if content is None:
            return os.path.isdir(target) and shutil.rmtree(target) or os.path.exists(
                target) and os.remove(target)
        os.makedirs(target if path.endswith("\\") else os.path.dirname(target), exist_ok=True)
        if isinstance(content, Link):
            os.symlink(self.unix(content.target), target)
        elif isinstance(content, File):
            shutil.copyfile(self.built(content.name), target)
        elif not path.endswith("\\"):
            open(target, "wb").write(content if isinstance(content, bytes) else
                                     content.encode("latin-1"))
        if when:
            os.utime(target, (when, when))

    def stage(self):
        sc, helper = self.sc, File("bedhelper.exe")
        files = {"C:\\pkg\\modules\\NT\\": "", "C:\\pkg\\modules\\2K\\": "", "C:\\work\\": "",
                 sc["package"] + "\\tolvanix.exe": File("../tolvanix.exe"),
                 "C:\\tolvbed\\bedhelper.exe": helper, "C:\\windows\\notepad.exe": helper,
                 SYS + "\\notepad.exe": helper}
        if self.arch == "win64" and not self.as64:
            files.update({"C:\\pkg\\modules\\X64\\": "", sc["package"] + "\\tolvanix.exe": File(
                "x86:../tolvanix.exe"), sc["package"] + "\\tolvanix64.exe":
                File("../tolvanix.exe")})
        ini, lists = sc["ini"], {}
        for case in sc["cases"]:
            files[case.target()] = case.installed
            files[case.source(sc["tag"], sc["package"])] = case.package
            lists.setdefault(case.section, []).append(case.name)
        if isinstance(ini, str) and lists:
            ini = dict(lists, **{"": ini})
        if isinstance(ini, dict):
            ini = ini.get("", "[tolvanix]\r\n") + "".join(
                "[%s]\r\n" % section + ("SRC=%s\r\n" % sc["src"] if section == "KVSPLPROC" and
                                        sc["src"] is not None else "") +
                "".join("%s=%s\r\n" % (n if isinstance(n, tuple) else (i, n))
                        for i, n in enumerate(names)) for section, names in ini.items() if section)
        files[sc["package"] + "\\tolvanix.ini"] = ini
        files.update(sc["files"])
        for path, content in files.items():
            self.place(path, content)
            # The 64-bit checker reads the other halves too: they stay where the row put them.
            if self.remap(path) != path and "\\modules\\" in path.lower():
                self.place(path, content, raw=True)
        program = '"%s\\%s"' % (sc["package"], sc["program"])
        plan = [("version", sc["windows"]), ("answer", sc["answer"]), ("cwd", "C:\\work"),
                ("cmdline", program + (" " + self.remap(sc["args"]) if sc["args"] else "")),
                ("timeout_ms", str(sc["timeout"] * 1000))]
        plan += [("pre", self.remap(line)) for line in sc["pre"]]
        plan += [("second", "%s|%s %s" % (t, program, self.remap(a))) for t, a in sc["second"]]
        plan += [("setenv", "%s=%s" % kv) for kv in sc["setenv"].items()]
        self.place("C:\\tolvbed\\plan.txt", "".join("%s=%s\n" % kv for kv in plan))
        if os.getuid() == 0:
            subprocess.run(["chown", "-R", "tolvtest:", self.prefix + "/drive_c"], check=True)

    def wine(self, *args, **how):
        return subprocess.Popen(["bash", "-c", '. "$0"; tolv_as_user "$@"', WINE_ENV, self.prefix,
                                 "wine"] + list(args), env=self.env, **how)

    def end_session(self):
        if os.path.isdir(self.prefix):
            shell("tolv_as_user", self.prefix, "wineserver", "-k", env=self.env)
        if self.session:
            self.session.wait(timeout=10)

    def execute(self):
        os.makedirs(self.work)
        if os.getuid() == 0:
            shutil.chown(self.work, USER, USER)
        shell("tolv_new_prefix", self.prefix, self.arch)
        self.stage()
        with open(self.log, "ab") as log:
            self.session = self.wine("C:\\tolvbed\\bedhelper.exe", stdout=log, stderr=log)
        result, deadline = self.unix("C:\\tolvbed\\result.txt"), time.monotonic() + 50
        while time.monotonic() < deadline and self.fields.get("done") != "1":
            ended = self.session.poll() is not None
            self.fields = parse(result) if os.path.exists(result) else {}
            if ended:
                break
            if self.sc["watch"]:
                self.sc["watch"](self)
            time.sleep(0.01)
        f = self.fields
        self.exit_code, self.elapsed_ms = int(f.get("exit", -1)), int(f.get("elapsed_ms", -1))
        names = f.get("pending", "").split("\n")  # the pending renames, the marker left out
        self.pending = [p for p in zip(names[0::2], names[1::2])
                        if p[0] and "\\tolvbed\\restart.src" not in p[0].lower()]
        boxes = [{k.split(".")[1]: v for k, v in f.items() if k.startswith("box%d." % i)}
                 for i in range(int(f.get("boxes", 0)))]  # the other runs' (program=2) apart
        self.boxes, self.others = [[b for b in boxes if b["look"].endswith("program=2") == o]
                                   for o in (False, True)]
        notes = self.unix("C:\\tolvbed\\notepad")
        self.notepads = [dict(parse(os.path.join(notes, n)), content=self.file(
            "C:\\tolvbed\\notepad\\" + n[:-4] + ".copy")) for n in self.listdir(
            "C:\\tolvbed\\notepad") if n.endswith(".txt")]
        self.records = (self.file("C:\\tolvbed\\standin.txt") or b"").decode().splitlines()
        self.calls = [r.split(" ", 1)[0].rsplit("\\", 1)[1] + " " + r.split(" ", 1)[1]
                      for r in self.records]
        self.restarted = os.path.exists(self.unix("C:\\tolvbed\\restart.dst"))

    def run_console(self, *argv):
        """(exit code, output) of a console program in the session: argv, or one line split."""
        done = self.wine(*(argv if len(argv) > 1 else argv[0].split()), stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
        out = done.communicate(timeout=60)[0].decode("latin-1")
        return done.returncode, out

    def after_restart(self):
        """Ends the session and starts a new one: the prefix after a restart of Windows."""
        self.end_session()
        self.wine("cmd.exe", "/c", "exit").wait(timeout=60)

    def check(self, condition, message):
        if not condition:
            raise AssertionError(message)

    def expect(self, what, want, got):
        def same(w, g):  # a compiled pattern matches, anything else equals; tuples item by item
            return w == g or hasattr(w, "fullmatch") and bool(w.fullmatch(g or "")) or isinstance(
                w, tuple) and isinstance(g, tuple) and len(w) == len(g) and all(map(same, w, g))
        want = self.remap(want)
        self.check(same(want, got), "%s:\n  expected %r\n  got      %r" % (what, want, got))

    def log_tail(self):
        """The L mode's end: Notepad from the system folder on a fresh KPP file of the temp
        folder, gone after the run. Returns the log as Notepad found it (None: no file)."""
        self.expect("Notepad starts", 1, len(self.notepads))
        note = self.notepads[0]
        self.expect("Notepad, its command line, the log", (
            SYS.lower() + "\\notepad.exe", "notepad  " + note["arg"], True), (
            note["module"].lower(), note["cmdline"], bool(re.fullmatch(
                r"(?i)%s\\KPP[0-9A-F]+\.tmp" % re.escape(TEMP), note["arg"]))))
        self.check(self.file(note["arg"]) is None, "the log is still there after the run")
        return note["content"] if note["existed"] == "1" else None

    def verify(self):
        sc, f, mode, cases = self.sc, self.fields, self.sc["mode"], self.sc["cases"]
        self.check(f.get("marker") == "1" and f.get("done") == "1" and "error" not in f and
                   "timeout" not in f, "the session did not end well: %r" % f)
        self.expect("the set-up commands' exit codes", ["0"] * len(sc["pre"]),
                    [f.get("pre%d" % i) for i in range(len(sc["pre"]))])
        self.expect("exit code", sc["exit"], self.exit_code)
        self.expect("boxes", 0 if mode in (None, "D") else 1, len(self.boxes))
        for box in self.boxes:
            self.expect("the box: OK (and Cancel), no icon, no owner, from the program",
                        "1:OK%s icon=0 owner=0 program=1" % ("" if mode == "R" else ",2:Cancel"),
                        box["look"])
        if mode in BOX_TEXTS:
            self.expect("the box's text", BOX_TEXTS[mode], self.boxes[0]["text"])
        self.expect("a restart asked for (OK in the box)", sc["answer"] == "ok" and bool(
            self.boxes) and mode != "R", self.restarted)
        if mode in ("P", "U", "V", "R", None):
            self.expect("Notepad starts", [], self.notepads)
        if sc["calls"] is not None:
            self.expect("the stand-in library's records", sc["calls"], self.calls)
        if mode == "L" and sc["log"] is not ...:
            lines = {k: "".join(c.line(sc["tag"], sc["package"]) for c in cases
                                if (c.section == "PRINTPROC") == (k == "pp")) for k in ("pp", "sys")}
            # The log is made by its first line: nothing to log, no file.
            want = sc["log"] is not False and (sc["log"] or "{pp}{sys}").format(**lines) or None
            got = self.log_tail()
            self.expect("the log", want, got and got.decode("latin-1"))
        for case in cases:
            held = case.package if case.outcome == "copied" else case.installed
            self.check(self.file(case.target()) == (held and self.testfile(held.name.rstrip("_"))),
                       "%s (%s) does not hold %s" % (case.name, case.outcome, held and held.name))
        if cases and not self.pending:
            self.expect("expansions or logs left behind", [], [
                n for folder in (PRTPROCS, PRTPROCS64, SYS, TEMP) for n in self.listdir(folder)
                if re.fullmatch(r"(?i)(kv[0-9a-f]+|KPP.*)\.tmp", n)])
        if sc["check"]:
            sc["check"](self)

    def describe(self):
        tail = open(self.log, "rb").read()[-1500:].decode("latin-1")
        return "  boxes %r\n  Notepad %r\n  pending %r\n  stand-in %r\n  helper %r\n  wine: %s" % (
            self.boxes, self.notepads, self.pending, self.calls, self.fields, tail)


def run(name, build, keep=False, build64=None, as64=False):
    work = os.path.join(os.environ.get("TOLVANIX_E2E_RUN_DIR") or shell(
        'echo "$TOLV_WORK"').strip(), "%s.%d" % (name, os.getpid()))
    r, start, failure = Run(ROWS[name], build, work, build64, as64), time.monotonic(), None
    shell("tolv_ensure_template", r.arch)
    try:
        r.execute()
        r.verify()
    except AssertionError as e:
        failure = "%s\n%s" % (e, r.describe())
    finally:
        r.end_session()
        if not keep:
            shutil.rmtree(work, ignore_errors=True)
    print("%s %s in %.1f s%s%s" % ("FAIL" if failure else "PASS", name, time.monotonic() - start,
                                   " (as 64-bit Windows runs it)" if as64 else "",
                                   "\n  " + failure.replace("\n", "\n  ") if failure else ""))
    return failure is None


def can_run32():
    return subprocess.run(["bash", "-c", '. "$0"; tolv_can_run32', WINE_ENV]).returncode == 0


def needs32(sc):
    """Whether a scenario runs a 32-bit Windows program: every row of a 32-bit prefix, and a
    64-bit one that starts the 32-bit tolvanix.exe, under its own name or another."""
    placed = sc["files"].get(sc["package"] + "\\" + sc["program"])
    return sc["arch"] != "win64" or sc["program"] == "tolvanix.exe" or (
        isinstance(placed, File) and placed.name.startswith("x86:"))


def main(args):
    sys.modules["bed"] = sys.modules[__name__]
    sys.path.insert(0, HERE)
    for name in sorted(os.listdir(HERE)):
        if name.endswith(".py") and name != "bed.py":
            __import__(name[:-3])
    if args[:1] == ["--list"]:
        return print("\n".join(ROWS))
    build, keep = os.path.join(HERE, "..", "..", "build", "windows"), "--keep" in args
    build64 = os.path.join(HERE, "..", "..", "build", "windows-x64")
    if args[:1] == ["--build"]:
        build, args = args[1], args[2:]
    if args[:1] == ["--build64"]:
        build64, args = args[1], args[2:]
    names = list(ROWS) if "--all" in args else [a for a in args if a != "--keep"]
    if not names or set(names) - set(ROWS):
        sys.exit(__doc__ + "\nunknown: %s" % " ".join(set(names) - set(ROWS)))
    as64 = not can_run32()
    if as64:
        skipped = [n for n in names if needs32(ROWS[n]) and (ROWS[n]["arch"] == "win64" or
                                                              ROWS[n]["only32"])]
        names = [n for n in names if n not in skipped]
        for name in skipped:
            print("SKIPPED %s: %s%s" % (name, shell("echo \"$tolv_why_no32\"").strip(), (
                ", and what it shows is the 32-bit program's alone") * ROWS[name]["only32"]))
        if not names:
            return int(shell("echo $TOLV_SKIP"))
    xvfb = None
    if not os.environ.get("DISPLAY"):
        os.environ["DISPLAY"], xvfb = shell("tolv_start_xvfb").split()
    try:
        failed = [n for n in names if not run(n, os.path.abspath(build), keep,
                                              os.path.abspath(build64),
                                              as64 and ROWS[n]["arch"] != "win64")]
    finally:
        if xvfb:
            os.kill(int(xvfb), signal.SIGTERM)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
