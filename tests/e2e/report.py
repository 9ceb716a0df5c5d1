"""The D mode's report, read from Notepad's copy (taken the moment it started) and from
tolvanix.log left in the temp folder, and compared line by line; the helper program is a real
window."""
import os
import re

from bed import VICTIM, row, File, Link, TEMP, SYS
from quiet import logged

REPORT = TEMP + "\\tolvanix.log"
FIXED = ["kvqrt7xb.dll", "kvqrtwyn.dll", "kvhl05c.exe", "kvsrv05c.exe", "kvsrv05c.ksi",
         "spool\\prtprocs\\w32x86\\kvprc7a.dll"]


def section(state="SERVICE_NOT_INSTALLED", program="STOP"):
    return ["Kvsrv05c = " + state, "", "Kvhl05c.exe = " + program, ""]


def absent(*names):
    return sum((["-" * 59, "file              = %s\\%s" % (SYS, n)] for n in names), [])


def present(name, attributes, written=None, version=""):
    """A present file's record; written None: any time (Wine's creation time is the write's)."""
    time = re.escape(written) if written else r"\d+/\d+/\d+   \d+:\d+:\d+"
    return absent(name) + ["Attributes        = " + attributes, re.compile(
        "Create time       = " + time), re.compile("Last Write time   = " + time),
        "Version           = " + version, ""]


def report(lines, planted=0):
    """The one report of the run, as Notepad got it (from the system folder, by full path with
    two blanks) and as it is left in the temp folder, with no draft left beside it."""
    def check(r):
        note = r.notepads[0] if len(r.notepads) == 1 else {}
        r.expect("Notepad, drafts left", ("notepad  " + REPORT, SYS.lower() + "\\notepad.exe", planted),
                 (note.get("cmdline"), note.get("module", "").lower(),
                  len([n for n in r.listdir(TEMP) if n.startswith("KPP")])))
        r.check(note["content"] == r.file(REPORT) and not os.path.islink(r.unix(REPORT)),
                "the report left in the temp folder is not the one shown, or a link")
        r.expect("the report's lines", tuple(lines) + ("",),
                 tuple(note["content"].decode("latin-1").split("\r\n")))
    return check


NONE = section() + absent(*FIXED)
# The helper program's window, by its class and its title; the row below has a window of each
# with the other wrong. (The service's line, from the service manager, is the unit tests'.)
row("report_sees_the_helper_programs_window", args="/D", mode="D", check=report(
    section(program="RUNNING") + NONE[4:]), pre=["window KestovaSplProcXPwrapper|KvSplSvc"])

# Fixed and listed files, present and absent, ten hours west of UTC; SRC is no listed file and
# key 5 comes after the gap. The helper program's windows are of another class or title.
PLAIN, VERSIONED = 1107245109, 1293839999  # 2005-02-01 08:05:09, 2010-12-31 23:59:59
P, V = "2005/2/1   8:5:9", "2010/12/31   23:59:59"


def in_utc(r):
    r.check(b'"Hawaiian Standard Time"' in open(os.path.join(r.prefix, "system.reg"), "rb").read(),
            "Wine does not run ten hours west of UTC: the report could not tell UTC from local")
    report(section() + present("kvqrt7xb.dll", "0020", V, "1.0.0.9") + absent(*FIXED[1:5])
           + present(FIXED[5], "0020", P) + present("kvplain.dll", "0020", P)
           + present("kvversion.dll", "0020", V, "1.0.0.10") + absent("kvabsent.dll")
           + present("kvreadonly.dll", "0021", P) + present("drivers", "0010"))(r)
    logged("C:\\logs\\d.log")(r)  # the first line alone, in UTC, over an earlier log


row("report_records_fixed_and_listed_files_in_utc", args="/D /LOG=C:\\logs\\d.log", mode="D",
    env={"TZ": "HST10"},
    ini={"KVSPLPROC": ["kvplain.dll", "kvversion.dll", "kvabsent.dll", "kvreadonly.dll",
                       "drivers", ("6", "kvbeyondgap.dll")]}, src="kvsrc.exe",
    files=dict({SYS + "\\" + n: ("plain", PLAIN) for n in (FIXED[5], "kvplain.dll", "kvreadonly.dll")},
               **{SYS + "\\kvqrt7xb.dll": (File("v1_0_0_9.dll"), VERSIONED), SYS + "\\kvsrc.exe": "x",
                  SYS + "\\kvversion.dll": (File("v1_0_0_10.dll"), VERSIONED),
                  SYS + "\\kvbeyondgap.dll": "x", "C:\\logs\\d.log": "an earlier log"}),
    pre=["attrib.exe +r %s\\kvreadonly.dll" % SYS, "window KestovaSplProcXPwrapper|KvSplSvc2",
         "window KestovaSplProcXP|KvSplSvc"], check=in_utc)

KEYS = ["kvlist%03d.dll" % i for i in range(201)]  # keys 0 to 200: key 200 is never read
row("report_lists_200_keys_and_never_key_200", args="/D", mode="D", ini={"KVSPLPROC": KEYS},
    files={SYS + "\\kvlist007.dll": ("7", PLAIN)},
    check=report(NONE + absent(*KEYS[:7]) + present(KEYS[7], "0020", P) + absent(*KEYS[8:200])))


# A folder at tolvanix.log's name takes no report: nothing for Notepad to show.
row("report_not_placed_is_not_shown", args="/D", mode="D", files={REPORT + "\\x": "x"},
    check=lambda r: r.expect("Notepad starts", [], r.notepads))
# Draft names another program could foresee, all taken beforehand, and a tolvanix.log planted as
# a link: the report still comes, replacing the link as a name; what it led to is left alone.
TAKEN = {"%s\\KPP%X.tmp" % (TEMP, n): "planted" for n in range(1, 17)}
row("report_written_past_taken_draft_names_and_a_link_at_its_name", args="/D", mode="D",
    files=dict(TAKEN, **{REPORT: Link(VICTIM), VICTIM: "precious"}), check=lambda r: (r.expect(
        "the link's target", b"precious", r.file(VICTIM)), report(NONE, planted=len(TAKEN))(r)))
