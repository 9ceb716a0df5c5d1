"""Shared set-up of the patch scenarios (patch_*.py): a package made of built payloads
(tests/e2e/payloads), installed files with chosen last-write times, the configuration that
lists them, and the checks of what ended up installed and what the L mode's log says.

A Case is one listed file: where it is listed, what is installed, what the package holds, and
the outcome the run must reach:
  "copied"   the target holds the package file, expanded
  "version"  refused with the version line, target unchanged
  "time"     refused with the time line, target unchanged
  "lzfail"   the expansion failed: LZCopy line, then CopyLZFile line, target unchanged
  "nosource" the package file cannot be opened (with /FOW): CopyLZFile line, target unchanged
  "skipped"  not looked at (not present, past a gap or a limit): no line, target unchanged
Payloads are named as built ("v1_0_0_9.dll"; "v1_0_0_9.dll_" is its compressed twin) and
given with a last-write time as an offset in seconds from T0, or None for no such file.
"""
import os

from bed import Built, Helper

SYS = "C:\\windows\\system32"
PRTPROCS = SYS + "\\spool\\prtprocs\\w32x86"
PACKAGE = "C:\\pkg"
T0 = 1500000000  # any fixed time; the cases only care which file is newer
# The companion library succeeds, so on XP and later nothing but the files' lines is logged.
COMPANION = {"C:\\pkg\\kvprc7a.dll": Helper("kvprc7a.dll")}
SECTIONS = {"PRINTPROC": PRTPROCS, "KVSPLPROC": SYS, "SrcFiles": SYS}


class Case:
    def __init__(self, name, installed, package, outcome, section="PRINTPROC", source=None):
        self.name, self.installed, self.package = name, installed, package
        self.outcome, self.section = outcome, section
        # KVSPLPROC entries all come from the SRC file, which may be named by an empty value
        self.source_name = name if source is None else source

    def target(self):
        return SECTIONS[self.section] + "\\" + self.name

    def source(self, tag="2K", package=PACKAGE):
        return "%s\\modules\\%s\\%s" % (package, tag, self.source_name)

    def line(self, tag="2K", package=PACKAGE):
        src, dst = self.source(tag, package), self.target()
        return {"version": "version of %s is greater than %s \r\n" % (dst, src),
                "time": "%s is older than %s \r\n" % (src, dst),
                "lzfail": "LZCopy %s at CopyLZFile FALSE \r\nCopyLZFile %s at CopySplFile FALSE "
                          "\r\n" % (dst, dst),
                "nosource": "CopyLZFile %s at CopySplFile FALSE \r\n" % dst}.get(self.outcome, "")

    def __repr__(self):
        return "%s %s (installed %r, package %r)" % (self.section, self.name, self.installed,
                                                     self.package)


def built(payload, when=None):
    """A built payload as a bed file, with a last-write time (offset from T0) when given."""
    b = Built("payloads/" + payload)
    return b if when is None else (b, T0 + when)


def ini(lists, src=None, extra=""):
    """tolvanix.ini with [section] lists of (key, name) in the order given."""
    text = "[tolvanix]\r\n"
    for section, entries in lists.items():
        text += "[%s]\r\n" % section
        if section == "KVSPLPROC" and src is not None:
            text += "SRC=%s\r\n" % src
        text += "".join("%s=%s\r\n" % entry for entry in entries)
    return text + extra


def package(cases, tag="2K", src=None, package_dir=PACKAGE, files=None, ini_text=None):
    """The bed settings (ini, files) that install and list the cases, keys 0, 1, ... per
    section in the order of the cases (or `ini_text`); `files` adds or overrides bed files.
    A package folder other than C:\pkg gets its own tolvanix.ini."""
    staged = dict(COMPANION)
    lists = {}
    for case in cases:
        if case.installed:
            staged[case.target()] = built(*case.installed)
        if case.package:
            staged[case.source(tag, package_dir)] = built(*case.package)
        keys = lists.setdefault(case.section, [])
        keys.append((str(len(keys)), case.name))
    staged.update(files or {})
    text = ini(lists, src) if ini_text is None else ini_text
    if package_dir != PACKAGE:
        staged[package_dir + "\\tolvanix.ini"] = text
        staged[package_dir + "\\kvprc7a.dll"] = COMPANION[PACKAGE + "\\kvprc7a.dll"]
        return dict(ini=None, files=staged)
    return dict(ini=text, files=staged)


def payload_bytes(r, payload):
    """What a payload holds once installed: compressed ones expanded, i.e. the plain twin."""
    name = payload[:-1] if payload.endswith("_") else payload
    with open(os.path.join(os.path.dirname(r.exe), "payloads", name), "rb") as f:
        return f.read()


def expect_installed(r, cases):
    """Each case's target holds what its outcome says; all mismatches in one message."""
    wrong = []
    for case in cases:
        if case.outcome == "copied":
            want = payload_bytes(r, case.package[0])
        else:
            want = payload_bytes(r, case.installed[0]) if case.installed else None
        got = r.file(case.target())
        if got != want:
            wrong.append("  %s, outcome %s: expected %s, found %s" % (
                case, case.outcome, identify(r, want), identify(r, got)))
    r.check(not wrong, "installed files:\n" + "\n".join(wrong))


def identify(r, content):
    """Which payload some bytes are, for failure messages."""
    if content is None:
        return "no file"
    folder = os.path.join(os.path.dirname(r.exe), "payloads")
    names = [n for n in sorted(os.listdir(folder))
             if not n.endswith("_") and payload_bytes(r, n) == content]
    return names[0] if names else "%d other bytes" % len(content)


def expect_log(r, expected):
    """The L mode's log holds exactly the expected text (None: no log at all)."""
    note = r.expect_log_tail()
    got = note.content
    if expected == "":
        r.check(got in (None, b""), "expected an empty log, got:\n%s" % show(got))
        return
    r.check(got == expected.encode("latin-1"), "log:\nexpected:\n%s\ngot:\n%s" % (
        show(expected.encode("latin-1")), show(got)))


def show(content):
    if content is None:
        return "    (no log)"
    return "\n".join("    %r" % line for line in content.split(b"\n"))


def expect_no_scratch(r):
    """No KPPC expansion (nor the log) is left in the temporary folder, and no "kv" file in
    the folders that were patched."""
    r.expect_temp_files(r"KPP.*", 0)
    for folder in (PRTPROCS, SYS):
        left = [n for n in r.listdir(folder) if n.lower().startswith("kv") and
                n.lower().endswith(".tmp")]
        r.check(not left, "expansions left in %s: %r" % (folder, left))


def expect_cases(r, cases, tag="2K", before="", between="", after="", package_dir=PACKAGE):
    """The L-mode run's log holds the cases' lines in list order (print-processor lines between
    `before` and `between`, system-directory lines between `between` and `after`), every target
    holds what it should, and no scratch file is left."""
    def lines(section):
        return "".join(c.line(tag, package_dir) for c in cases if c.section == section)

    pp, system = lines("PRINTPROC"), lines("KVSPLPROC") + lines("SrcFiles")
    problems = []
    for check in (lambda: expect_log(r, before + pp + between + system + after),
                  lambda: expect_installed(r, cases), lambda: expect_no_scratch(r)):
        try:
            check()
        except AssertionError as e:
            problems.append(str(e))
    r.check(not problems, "\n".join(problems))
