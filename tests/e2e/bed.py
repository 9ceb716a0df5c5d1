"""The end-to-end test bed: runs the real tolvanix.exe under Wine and looks at what it did.

A scenario is a small function that receives a finished run and asserts on it; everything it
needs set up is declared in @scenario(...). For each scenario the bed

  * copies the template WINEARCH=win32 prefix (tests/wine-env.sh) into a folder of its own;
  * lays out the package: C:\\pkg\\<program> (the program under the scenario's file name),
    C:\\pkg\\tolvanix.ini, C:\\pkg\\modules\\NT and C:\\pkg\\modules\\2K, plus declared files;
  * installs the Notepad stand-in over C:\\windows\\notepad.exe and
    C:\\windows\\system32\\notepad.exe;
  * starts helpers/bedhelper.exe as the session's first process. It sets Wine's Windows
    version, registers the restart marker, runs the set-up commands, starts the program with
    the exact command line from C:\\work (another folder than the package), answers every
    message box after recording it, records the pending rename operations and the exit code,
    and then keeps the session alive until the bed ends it with `wineserver -k`.

How a restart request is seen. Under Wine, ExitWindowsEx(EWX_REBOOT) returns 1 and does not
end the caller: it runs `wineboot --end-session`, which closes the session's windows and then
does what a boot does, carrying out the PendingFileRenameOperations at once, inside the running
session (EWX_SHUTDOWN and EWX_LOGOFF add --shutdown and carry out nothing). So bedhelper
registers a marker rename (C:\\tolvbed\\restart.src -> restart.dst,
MOVEFILE_DELAY_UNTIL_REBOOT) before the program starts, and the session is kept alive until
the bed has looked: marker carried out while the session lives == a restart was requested.
The marker is checked before the session ends, because a new Wine session is itself a restart
and carries out every pending rename (`wineboot -r` by hand is not needed and has crashed).
Because a restart request empties the pending list, bedhelper also records the list at the
moment each box appears (Box.pending), before it presses a button. Run.after_restart() ends
the session and starts a new one: the state of the prefix after the restart.

Every scenario also checks the invariants of the program: exit code 0, and every box it
shows is the closing box (exactly OK and Cancel, no icon, no owner).
"""

import os
import pwd
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
WINE_ENV = os.path.join(REPO, "tests", "wine-env.sh")

# The program's own texts.
RESTART_QUESTION = "You must restart your computer.\nDo you want to restart your conputer now?"
UNINSTALL_TEXT = "The uninstallation has been successfully completed."
DEFAULT_CAPTION = "Kestova PrintProcessor patch"
OK, CANCEL = 1, 2
# Wine runs as "tolvtest" when the bed runs as root (tests/wine-env.sh), else as the caller;
# the prefix's temporary folder is named after that user.
WINE_USER = "tolvtest" if os.getuid() == 0 else pwd.getpwuid(os.getuid()).pw_name
TEMP = "C:\\users\\%s\\Temp" % WINE_USER


class Pattern:
    """A text that must match a regular expression as a whole."""

    def __init__(self, regex, what):
        self.regex, self.what = re.compile(regex, re.S), what

    def matches(self, text):
        return self.regex.fullmatch(text) is not None

    def __repr__(self):
        return "<%s: /%s/>" % (self.what, self.regex.pattern)


# String 1: one line naming the maker, a line feed, then the version line.
VERSION_TEXT = Pattern(r"[^\n]*Kestova[^\n]*\n   Version 1\.003", "version text")


MODE_TEXTS = {"P": RESTART_QUESTION, "L": RESTART_QUESTION, "U": UNINSTALL_TEXT,
              "V": VERSION_TEXT}


def text_matches(expected, text):
    return expected.matches(text) if isinstance(expected, Pattern) else expected == text


class Helper:
    """A file built by tests/e2e/CMakeLists.txt, e.g. Helper("kvprc7a.dll"),
    Helper("planted/version.dll")."""

    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return "Helper(%r)" % self.name


class Built:
    """A file of the build tree beside the program under test, e.g. Built("tolvanix-check.exe"),
    Built("fixtures/check/clean.dll_")."""

    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return "Built(%r)" % self.name


class Link:
    """A symbolic link made on the Unix side, pointing at another path of the prefix, e.g.
    files={TEMP + "\\tolvanix.log": Link("C:\\tolvbed\\victim.txt")}."""

    def __init__(self, target):
        self.target = target

    def __repr__(self):
        return "Link(%r)" % self.target


class Scenario:
    def __init__(self, name, check, windows="win7", program="tolvanix.exe", args="", cmdline=None,
                 ini="[tolvanix]\r\n", files=None, answer="cancel", dll_overrides=None, pre=(),
                 cwd="C:\\work", program_file=None, exit_code=0, closing_box=True, timeout=20,
                 winedebug=None, xfail=None, env=None, setenv=None, watch=None):
        self.name, self.check = name, check
        self.windows, self.program, self.args, self.cmdline = windows, program, args, cmdline
        self.ini, self.files, self.answer = ini, dict(files or {}), answer
        self.dll_overrides, self.pre, self.cwd = dll_overrides, list(pre), cwd
        self.program_file, self.exit_code, self.closing_box = program_file, exit_code, closing_box
        self.timeout, self.xfail, self.winedebug = timeout, xfail, winedebug
        self.env = dict(env or {})
        self.setenv, self.watch = dict(setenv or {}), watch

    def command_line(self):
        path = "C:\\pkg\\" + self.program
        if self.cmdline is not None:
            return self.cmdline.format(program=path)
        return '"%s"' % path + (" " + self.args if self.args else "")


SCENARIOS = {}


def scenario(name=None, **settings):
    """Declares a scenario. Settings (all optional):
      windows        Wine's Windows version: win98, nt40, win2k, winxp, win7 (default), win10
      program        the program's file name in C:\\pkg (default tolvanix.exe)
      args           the argument text after the quoted program path
      cmdline        the whole command line instead; "{program}" stands for C:\\pkg\\<program>
      ini            text of C:\\pkg\\tolvanix.ini (None: no file)
      files          {windows path: bytes | str | Helper(...) | Built(...) | None (delete)},
                     or a (content, last-write time) pair, or Link(windows path)
      answer         how to answer boxes: "ok", "cancel" (default), "escape"; "ok,cancel" for two
      dll_overrides  WINEDLLOVERRIDES for the session ("notepad.exe=n" is added to it)
      pre            command lines run in the session before the program
      program_file   Helper(...) to run in place of tolvanix.exe (controls)
      exit_code      expected exit code (default 0; None: not checked)
      closing_box    check every box is the plain OK/Cancel closing box (default True)
      winedebug      WINEDEBUG for the session, e.g. "+loaddll" for Run.loaded_modules()
      env            more environment for the Wine session, e.g. {"TZ": "JST-9"} (Wine's time
                     zone; tests/wine-env.sh defaults it to UTC)
      setenv         environment of the program itself, e.g. {"TEMP": "C:\\missing"} (Wine
                     takes TEMP and TMP from the prefix, not from the session's environment)
      watch          a function called with the Run every 10 ms while the program runs, to act
                     on the prefix from outside (as another program of the user would)
      xfail          reason: the scenario is expected to fail until that is done
    """

    def register(check):
        key = name or check.__name__
        if key in SCENARIOS:
            raise ValueError("two scenarios named %s" % key)
        SCENARIOS[key] = Scenario(key, check, **settings)
        return check

    return register


# ---------------------------------------------------------------------------------------------
# Results

class Box:
    def __init__(self, fields):
        self.caption = fields.get("caption", "")
        self.text = fields.get("text", "")
        self.buttons = []
        for item in filter(None, fields.get("buttons", "").split(",")):
            ident, _, label = item.partition(":")
            self.buttons.append((int(ident), label))
        self.icon = fields.get("icon") == "1"
        self.owner = fields.get("owner") == "1"
        self.from_program = fields.get("from_program") == "1"
        self.pending = parse_pending(fields.get("pending", ""))
        self.answer = fields.get("answer", "")

    def __repr__(self):
        return ("Box(caption=%r, text=%r, buttons=%r, icon=%s, owner=%s, from_program=%s, "
                "answer=%s, pending=%r)" % (self.caption, self.text, self.buttons, self.icon,
                                            self.owner, self.from_program, self.answer,
                                            self.pending))


class Planted:
    """A planted file that ran: where it lay, the process it ran in, and how it came in
    ("static": imports resolved at process start, "dynamic": LoadLibrary, "exe": started)."""

    def __init__(self, path, host, kind):
        self.path, self.host, self.kind = path, host, kind
        self.name = path.rsplit("\\", 1)[-1].lower()

    def __repr__(self):
        return "Planted(%r in %r, %s)" % (self.path, self.host, self.kind)


class Notepad:
    def __init__(self, fields, content):
        self.module = fields.get("module", "")
        self.cmdline = fields.get("cmdline", "")
        self.arg = fields.get("arg", "")
        self.existed = fields.get("existed") == "1"
        self.content = content  # the file it was given, copied at once; None if none

    def __repr__(self):
        return "Notepad(module=%r, cmdline=%r, arg=%r, existed=%s, content=%r)" % (
            self.module, self.cmdline, self.arg, self.existed, self.content)


MARKER_SOURCE = "\\??\\C:\\tolvbed\\restart.src"


def parse_pending(text):
    """PendingFileRenameOperations as (source, target) pairs, the bed's marker left out."""
    names = text.split("\n")
    if names and names[-1] == "":
        names.pop()
    pairs = [(names[i], names[i + 1] if i + 1 < len(names) else None)
             for i in range(0, len(names), 2)]
    return [p for p in pairs if p[0].lower() != MARKER_SOURCE.lower()]


def unescape(value):
    out, i = bytearray(), 0
    raw = value.encode("latin-1")
    while i < len(raw):
        c = raw[i:i + 1]
        if c == b"\\" and i + 1 < len(raw):
            n = raw[i + 1:i + 2]
            if n == b"x":
                out.append(int(raw[i + 2:i + 4], 16))
                i += 4
                continue
            out += {b"n": b"\n", b"r": b"\r", b"t": b"\t"}.get(n, n)
            i += 2
            continue
        out += c
        i += 1
    return out.decode("latin-1")


def escape(text):
    out = []
    for ch in text:
        o = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch in "\n\r\t":
            out.append({"\n": "\\n", "\r": "\\r", "\t": "\\t"}[ch])
        elif o < 0x20 or o >= 0x7f:
            out.append("\\x%02x" % (o & 0xFF))
        else:
            out.append(ch)
    return "".join(out)


def read_fields(path):
    fields = {}
    with open(path, "r", encoding="latin-1") as f:
        for line in f:
            key, sep, value = line.rstrip("\n").partition("=")
            if sep:
                fields[key] = unescape(value)
    return fields


class ScenarioFailure(AssertionError):
    pass


# ---------------------------------------------------------------------------------------------
# Running

def shell_env(command, *args, env=None):
    """Runs a function of tests/wine-env.sh with arguments; returns its output."""
    script = '. "$0"; %s "$@"' % command
    return subprocess.run(["bash", "-c", script, WINE_ENV] + list(args), env=env, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout


def tolv_work():
    return shell_env('echo "$TOLV_WORK"; :').strip()


class Run:
    """A finished run of one scenario, with what the bed recorded."""

    def __init__(self, sc, exe, helpers, work):
        self.sc, self.exe, self.helpers, self.work = sc, exe, helpers, work
        self.prefix = os.path.join(work, "prefix")
        self.as_root = os.getuid() == 0
        self.env = dict(os.environ)
        # Wine runs its built-in Notepad over the stand-in unless told otherwise.
        self.env["WINEDLLOVERRIDES"] = ";".join(filter(None, [sc.dll_overrides,
                                                              "notepad.exe=n"]))
        if sc.winedebug:
            self.env["WINEDEBUG"] = sc.winedebug
        self.env.update(sc.env)
        self.session = None
        self.log = os.path.join(work, "wine.log")
        self.timings = {}

    # -- paths ------------------------------------------------------------------------------
    def unix(self, winpath):
        drive, _, rest = winpath.partition(":")
        if drive.upper() != "C":
            raise ValueError("only C: paths: %r" % winpath)
        return os.path.join(self.prefix, "drive_c", *[p for p in rest.split("\\") if p])

    def file(self, winpath):
        """The bytes of a file in the prefix, or None."""
        try:
            with open(self.unix(winpath), "rb") as f:
                return f.read()
        except (FileNotFoundError, NotADirectoryError):
            return None

    def exists(self, winpath):
        return os.path.exists(self.unix(winpath))

    def listdir(self, winpath):
        try:
            return sorted(os.listdir(self.unix(winpath)))
        except FileNotFoundError:
            return []

    # -- staging ----------------------------------------------------------------------------
    def _place(self, winpath, content):
        target = self.unix(winpath)
        if content is None:
            if os.path.isdir(target):
                shutil.rmtree(target)
            elif os.path.exists(target):
                os.remove(target)
            return
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if isinstance(content, tuple):  # (content, last-write time in seconds since 1970)
            self._place(winpath, content[0])
            os.utime(target, (content[1], content[1]))
            return
        if isinstance(content, Link):
            os.symlink(self.unix(content.target), target)
        elif isinstance(content, Helper):
            shutil.copyfile(os.path.join(self.helpers, content.name), target)
        elif isinstance(content, Built):
            shutil.copyfile(os.path.join(os.path.dirname(self.exe), *content.name.split("/")),
                            target)
        else:
            with open(target, "wb") as f:
                f.write(content.encode("latin-1") if isinstance(content, str) else content)

    def stage(self):
        sc = self.sc
        for folder in ("C:\\pkg\\modules\\NT", "C:\\pkg\\modules\\2K", "C:\\work", "C:\\tolvbed"):
            os.makedirs(self.unix(folder), exist_ok=True)
        program = self.exe if sc.program_file is None else os.path.join(
            self.helpers, sc.program_file.name)
        shutil.copyfile(program, self.unix("C:\\pkg\\" + sc.program))
        if sc.ini is not None:
            self._place("C:\\pkg\\tolvanix.ini", sc.ini)
        self._place("C:\\tolvbed\\bedhelper.exe", Helper("bedhelper.exe"))
        for where in ("C:\\windows\\notepad.exe", "C:\\windows\\system32\\notepad.exe"):
            self._place(where, Helper("notepad.exe"))
        for winpath, content in sc.files.items():
            self._place(winpath, content)
        plan = [("version", sc.windows), ("answer", sc.answer), ("cmdline", sc.command_line()),
                ("cwd", sc.cwd), ("timeout_ms", str(sc.timeout * 1000))]
        plan += [("pre", line) for line in sc.pre]
        plan += [("setenv", "%s=%s" % item) for item in sc.setenv.items()]
        with open(self.unix("C:\\tolvbed\\plan.txt"), "w", encoding="latin-1") as f:
            for key, value in plan:
                f.write("%s=%s\n" % (key, escape(value)))
        if self.as_root:
            subprocess.run(["chown", "-R", "tolvtest:", os.path.join(self.prefix, "drive_c")],
                           check=True)

    # -- the session ------------------------------------------------------------------------
    def wine(self, *args):
        """Starts `wine ARGS` as the Wine user in this prefix, in the background."""
        script = '. "$0"; tolv_as_user "$@"'
        with open(self.log, "ab") as log:
            return subprocess.Popen(["bash", "-c", script, WINE_ENV, self.prefix, "wine"]
                                    + list(args), env=self.env, cwd=self.unix("C:\\"),
                                    stdout=log, stderr=subprocess.STDOUT)

    def wineserver_kill(self):
        shell_env("tolv_as_user", self.prefix, "wineserver", "-k", env=self.env)
        if self.session is not None:
            try:
                self.session.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.session.kill()
                self.session.wait()
            self.session = None

    def execute(self):
        t0 = time.monotonic()
        os.makedirs(self.work, exist_ok=True)
        if self.as_root:
            shutil.chown(self.work, "tolvtest", "tolvtest")
        shell_env("tolv_new_prefix", self.prefix)
        self.stage()
        t1 = time.monotonic()
        self.session = self.wine("C:\\tolvbed\\bedhelper.exe")
        result = self.unix("C:\\tolvbed\\result.txt")
        deadline = time.monotonic() + self.sc.timeout + 30
        fields = {}
        while time.monotonic() < deadline:
            if os.path.exists(result):
                fields = read_fields(result)
                if fields.get("done") == "1":
                    break
            if self.session.poll() is not None:
                fields = read_fields(result) if os.path.exists(result) else {}
                break
            if self.sc.watch:
                self.sc.watch(self)
            time.sleep(0.01 if self.sc.watch else 0.05)
        t2 = time.monotonic()
        self.timings = {"prefix": t1 - t0, "session": t2 - t1}
        self.fields = fields
        self._collect()

    def _collect(self):
        f = self.fields
        self.done = f.get("done") == "1"
        self.exit_code = int(f["exit"]) if "exit" in f else None
        if self.exit_code is not None and self.exit_code >= 2 ** 31:
            self.exit_code -= 2 ** 32
        self.boxes = []
        for i in range(int(f.get("boxes", "0") or 0) if self.done else 16):
            prefix = "box%d." % i
            sub = {k[len(prefix):]: v for k, v in f.items() if k.startswith(prefix)}
            if not sub:
                break
            self.boxes.append(Box(sub))
        self.notepads = []
        folder = self.unix("C:\\tolvbed\\notepad")
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            if name.endswith(".txt"):
                copy = os.path.join(folder, name[:-4] + ".copy")
                content = open(copy, "rb").read() if os.path.exists(copy) else None
                self.notepads.append(Notepad(read_fields(os.path.join(folder, name)), content))
        self.planted = []
        for name in self.listdir("C:\\tolvbed\\planted"):
            lines = self.file("C:\\tolvbed\\planted\\" + name).decode("latin-1").split("\r\n")
            self.planted.append(Planted(*(lines + ["", "", ""])[:3]))
        self.pending_before = parse_pending(f.get("pending_before", ""))
        self.pending = parse_pending(f.get("pending_after", ""))
        self.marker_registered = f.get("marker_registered") == "1"
        self.elapsed_ms = int(f["elapsed_ms"]) if "elapsed_ms" in f else None
        self.restart_requested = (self.exists("C:\\tolvbed\\restart.dst")
                                  and not self.exists("C:\\tolvbed\\restart.src"))

    def loaded_modules(self):
        """The modules the program's process loaded, as (path, "native"|"builtin"), from Wine's
        +loaddll trace (declare winedebug="+loaddll")."""
        line = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*?)" at \w+: (\w+)')
        loads, program, tid = [], ("C:\\pkg\\" + self.sc.program).lower(), None
        for text in open(self.log, "rb").read().decode("latin-1").splitlines():
            m = line.match(text)
            if not m:
                continue
            path = m.group(2).replace("\\\\", "\\")
            if tid is None and path.lower() == program:
                tid = m.group(1)
            if tid is not None and m.group(1) == tid:
                loads.append((path, m.group(3)))
        return loads

    def run_console(self, cmdline, timeout=60):
        """Runs a console command line in the run's session (or, after after_restart(), in the
        new one) with its standard output captured; returns (exit code, output text)."""
        out = "C:\\tolvbed\\console%d.txt" % getattr(self, "_consoles", 0)
        self._consoles = getattr(self, "_consoles", 0) + 1
        proc = self.wine("cmd.exe", "/c", "%s > %s" % (cmdline, out))
        code = proc.wait(timeout=timeout)
        text = (self.file(out) or b"").decode("latin-1")
        return code, text

    def after_restart(self):
        """Ends the run's session and starts a new one, which carries out the pending renames
        as a restart of Windows does; the prefix then shows the state after the restart."""
        self.wineserver_kill()
        probe = self.wine("cmd.exe", "/c", "exit")
        probe.wait(timeout=60)
        self.restarted = True
        return self

    # -- assertions -------------------------------------------------------------------------
    def describe(self):
        lines = ["scenario %s: windows=%s command line=%r cwd=%s answer=%s overrides=%r" % (
            self.sc.name, self.sc.windows, self.sc.command_line(), self.sc.cwd, self.sc.answer,
            self.env.get("WINEDLLOVERRIDES"))]
        lines.append("  exit code: %r%s" % (self.exit_code, "" if self.done else
                                             "  (bed did not finish: helper record incomplete)"))
        lines.append("  boxes: %d" % len(self.boxes))
        lines += ["    %r" % b for b in self.boxes]
        lines.append("  notepad starts: %d" % len(self.notepads))
        lines += ["    %r" % n for n in self.notepads]
        lines.append("  program ran for: %r ms" % self.elapsed_ms)
        lines.append("  restart requested: %s (marker registered: %s)" % (
            self.restart_requested, self.marker_registered))
        lines.append("  pending renames at the end: %r" % self.pending)
        lines.append("  planted files that ran: %r" % self.planted)
        other = {k: v for k, v in self.fields.items()
                 if not k.startswith("box") and k not in ("pending_before", "pending_after")}
        lines.append("  helper record: %r" % other)
        if os.path.exists(self.log):
            tail = open(self.log, "rb").read()[-2000:].decode("latin-1").strip()
            if tail:
                lines.append("  wine output (tail):\n    " + tail.replace("\n", "\n    "))
        return "\n".join(lines)

    def fail(self, message):
        raise ScenarioFailure(message)

    def check(self, condition, message):
        if not condition:
            self.fail(message)

    def expect_box(self, text=None, caption=None):
        """Exactly one box was shown; returns it."""
        self.check(len(self.boxes) == 1, "expected one message box, got %d" % len(self.boxes))
        box = self.boxes[0]
        if text is not None:
            self.check(text_matches(text, box.text),
                       "box text: expected %r, got %r" % (text, box.text))
        if caption is not None:
            self.check(text_matches(caption, box.caption),
                       "box caption: expected %r, got %r" % (caption, box.caption))
        return box

    def expect_no_box(self):
        self.check(not self.boxes, "expected no message box, got %d" % len(self.boxes))

    def expect_notepad(self):
        """Notepad was started exactly once; returns the stand-in's record."""
        self.check(len(self.notepads) == 1,
                   "expected Notepad started once, got %d starts" % len(self.notepads))
        return self.notepads[0]

    def expect_no_notepad(self):
        self.check(not self.notepads, "expected no Notepad, got %d starts" % len(self.notepads))

    def expect_restart(self, requested):
        self.check(self.restart_requested == requested,
                   "restart requested: expected %s, got %s" % (requested, self.restart_requested))

    def expect_temp_files(self, pattern, count):
        """Files in the Wine user's temporary folder whose names match a regular expression."""
        found = [n for n in self.listdir(TEMP) if re.fullmatch(pattern, n, re.I)]
        self.check(len(found) == count, "expected %d file(s) /%s/ in %s, found %r" % (
            count, pattern, TEMP, found))
        return found

    def expect_mode(self, mode):
        """The observable signs of a run mode: P(atch), L(ogPatch), U(ninstall), V(ersion),
        D(iagnose). P and L both ask to restart; L also shows its log in Notepad."""
        if mode == "D":
            self.expect_no_box()
            return None
        box = self.expect_box(text=MODE_TEXTS[mode])
        if mode == "L":
            self.expect_log_tail()
        else:
            self.expect_no_notepad()
        return box

    def expect_log_tail(self):
        """The L mode's end: Notepad from the system folder with "notepad", two blanks and the
        log's name (a temporary name from the prefix "KPPC", of which GetTempFileNameA uses
        the first three letters), and the log gone after the run. Returns Notepad's
        record; its .content is the log as Notepad found it (None: no file)."""
        note = self.expect_notepad()
        self.check(note.cmdline == "notepad  " + note.arg,
                   "Notepad's command line: expected 'notepad  <log>', got %r" % note.cmdline)
        self.check(note.module.lower() == "c:\\windows\\system32\\notepad.exe",
                   "Notepad started from %r, not from the system folder" % note.module)
        log = note.arg
        self.check(re.fullmatch(r"(?i)" + re.escape(TEMP) + r"\\KPP[0-9A-F]+\.tmp", log),
                   "log name %r is not a KPP temporary file in %s" % (log, TEMP))
        self.check(not self.exists(log), "the log %s is still there after the run" % log)
        return note

    def check_invariants(self):
        self.check(self.marker_registered, "bed: the restart marker could not be registered")
        self.check(self.done, "the run did not finish within %d s" % self.sc.timeout)
        self.check("error" not in self.fields, "bed: %s" % self.fields.get("error"))
        self.check("timeout" not in self.fields,
                   "the program did not end within %d s" % self.sc.timeout)
        for i, line in enumerate(self.sc.pre):
            self.check(self.fields.get("pre%d.exit" % i) == "0", "set-up command %r ended with %r"
                       % (line, self.fields.get("pre%d.exit" % i)))
        if self.sc.exit_code is not None:
            self.check(self.exit_code == self.sc.exit_code, "exit code: expected %d, got %r" % (
                self.sc.exit_code, self.exit_code))
        if self.sc.closing_box:
            for box in self.boxes:
                self.check([b[0] for b in box.buttons] == [OK, CANCEL],
                           "box buttons: expected exactly OK and Cancel, got %r" % box.buttons)
                self.check(not box.icon, "box shows an icon")
                self.check(not box.owner, "box has an owner window")
                self.check(box.from_program, "box comes from another process")


def run_scenario(sc, exe, helpers, keep=False, run_dir=None, out=sys.stdout):
    """Runs one scenario; returns True when it passed (or failed as its xfail mark expects)."""
    root = run_dir or os.path.join(tolv_work(), "e2e")
    work = os.path.join(root, "%s.%d" % (sc.name, os.getpid()))
    shell_env("tolv_ensure_template")
    os.makedirs(root, exist_ok=True)
    if os.getuid() == 0:
        shutil.chown(root, "tolvtest", "tolvtest")
    if os.path.exists(work):
        shutil.rmtree(work)
    r = Run(sc, exe, helpers, work)
    start = time.monotonic()
    failure = None
    try:
        r.execute()
        r.check_invariants()
        sc.check(r)
    except ScenarioFailure as e:
        failure = str(e)
    finally:
        try:
            r.wineserver_kill()
        finally:
            if not keep:
                shutil.rmtree(work, ignore_errors=True)
    took = time.monotonic() - start
    timing = "%.1f s (prefix %.1f s, session %.1f s)" % (
        took, r.timings.get("prefix", 0), r.timings.get("session", 0))
    if failure is None and sc.xfail:
        print("XPASS %s in %s: expected to fail (%s), but passed: remove the xfail mark"
              % (sc.name, timing, sc.xfail), file=out)
        return False
    if failure is not None:
        report = "%s\n%s" % (failure, r.describe() if hasattr(r, "fields") else "")
        if sc.xfail:
            print("XFAIL %s in %s (expected until: %s)\n  %s" % (
                sc.name, timing, sc.xfail, report.replace("\n", "\n  ")), file=out)
            return True
        print("FAIL %s in %s\n  %s" % (sc.name, timing, report.replace("\n", "\n  ")), file=out)
        if keep:
            print("  prefix kept at %s" % r.prefix, file=out)
        return False
    print("PASS %s in %s" % (sc.name, timing), file=out)
    return True
