"""The D mode's report, read from Notepad's copy (taken the moment it started) and from
tolvanix.log left in the temp folder, and compared line by line. The helper service is a real
Wine service (the helper program, made with sc create), the helper program a real window."""
import os
import re

from bed import row, File, Link, TEMP, SYS

REPORT = TEMP + "\\tolvanix.log"
FIXED = ["kvqrt7xb.dll", "kvqrtwyn.dll", "kvhl05c.exe", "kvsrv05c.exe", "kvsrv05c.ksi",
         "spool\\prtprocs\\w32x86\\kvprc7a.dll"]
SEPARATOR = "-" * 59


def service(name, display, running):
    sc = SYS + "\\sc.exe"
    return (['%s create "%s" binPath= "{helper} service" DisplayName= "%s"' % (sc, name, display)]
            + (['%s start "%s"' % (sc, name)] if running else []))


def window(cls, title):
    return ['{helper} window "%s" "%s"' % (cls, title)]


def section(state="SERVICE_NOT_INSTALLED", program="STOP"):
    return ["Kvsrv05c = " + state, "", "Kvhl05c.exe = " + program, ""]


def absent(name):
    return [SEPARATOR, "file              = %s\\%s" % (SYS, name)]


def present(name, attributes, written=None, version=""):
    """A present file's record. Wine gives a file the bed made its last-write time as its
    creation time too. written None: any time."""
    times = [re.compile(label + (re.escape(written) if written else r"\d+/\d+/\d+   \d+:\d+:\d+"))
             for label in ("Create time       = ", "Last Write time   = ")]
    return absent(name) + ["Attributes        = " + attributes] + times + [
        "Version           = " + version, ""]


def shown(r, planted=0):
    """The text of every report Notepad was given, each by full path with two blanks."""
    r.expect("drafts left", planted, len([n for n in r.listdir(TEMP) if n.startswith("KPP")]))
    for note in r.notepads:
        r.expect("Notepad", ("notepad  " + REPORT, SYS.lower() + "\\notepad.exe", "1"),
                 (note["cmdline"], note["module"].lower(), note["existed"]))
    return [note["content"].decode("latin-1") for note in r.notepads]


def expect_report(r, text, lines):
    got = text[:-2].split("\r\n") if text.endswith("\r\n") else [text]
    for i in range(max(len(got), len(lines))):
        line = got[i] if i < len(got) else "<end>"
        want = lines[i] if i < len(lines) else "<end>"
        r.expect("report line %d" % (i + 1), want, line)


def report(lines, planted=0):
    """The one report of the run: what Notepad showed and what is left in the temp folder."""
    def check(r):
        texts = shown(r, planted)
        r.expect("Notepad starts", 1, len(texts))
        r.expect("the report left", texts[0].encode("latin-1"), r.file(REPORT))
        r.check(not os.path.islink(r.unix(REPORT)), "the report is a link")
        expect_report(r, texts[0], lines)
    return check


NONE = section() + sum((absent(n) for n in FIXED), [])
CLASS, TITLE, NAME, DISPLAY = "KestovaSplProcXPwrapper", "KvSplSvc", "Kestova XP spl Service", \
    "KvSplService"
for name, pre, lines in [
    ("report_service_running_and_window_present",
     service(NAME, DISPLAY, True) + window(CLASS, TITLE), section("SERVICE_RUNNING", "RUNNING")),
    ("report_service_installed_but_stopped_window_with_other_title",
     service(NAME, DISPLAY, False) + window(CLASS, "KvSplSvc2"), section()),
    ("report_service_with_names_swapped_window_of_other_class",
     service(DISPLAY, NAME, True) + window("KestovaSplProcXP", TITLE), section()),
]:
    row(name, args="/D", mode="D", pre=pre, check=report(lines + NONE[4:]))

# Fixed and listed files, present and absent, ten hours west of UTC; SRC is no listed file and
# key 5 comes after the gap.
PLAIN, VERSIONED = 1107245109, 1293839999  # 2005-02-01 08:05:09, 2010-12-31 23:59:59
P, V = "2005/2/1   8:5:9", "2010/12/31   23:59:59"


def in_utc(r):
    r.check(b'"Hawaiian Standard Time"' in open(os.path.join(r.prefix, "system.reg"), "rb").read(),
            "Wine does not run ten hours west of UTC: the report could not tell UTC from local")
    report(section() + present("kvqrt7xb.dll", "0020", V, "1.0.0.9") + sum(
        (absent(n) for n in FIXED[1:5]), []) + present(FIXED[5], "0020", P)
        + present("kvplain.dll", "0020", P) + present("kvversion.dll", "0020", V, "1.0.0.10")
        + absent("kvabsent.dll") + present("kvreadonly.dll", "0021", P)
        + present("drivers", "0010"))(r)


row("report_records_fixed_and_listed_files_in_utc", args="/D", mode="D", env={"TZ": "HST10"},
    ini={"KVSPLPROC": ["kvplain.dll", "kvversion.dll", "kvabsent.dll", "kvreadonly.dll",
                       "drivers", ("6", "kvbeyondgap.dll")]}, src="kvsrc.exe",
    files={SYS + "\\kvqrt7xb.dll": (File("v1_0_0_9.dll"), VERSIONED),
           SYS + "\\" + FIXED[5]: ("plain", PLAIN), SYS + "\\kvplain.dll": ("plain", PLAIN),
           SYS + "\\kvversion.dll": (File("v1_0_0_10.dll"), VERSIONED),
           SYS + "\\kvreadonly.dll": ("plain", PLAIN), SYS + "\\kvsrc.exe": "x",
           SYS + "\\kvbeyondgap.dll": "x"},
    pre=["attrib.exe +r %s\\kvreadonly.dll" % SYS],
    check=in_utc)

KEYS = ["kvlist%03d.dll" % i for i in range(201)]
row("report_lists_200_keys_and_never_key_200", args="/D", mode="D", ini={"KVSPLPROC": KEYS},
    files={SYS + "\\kvlist007.dll": ("7", PLAIN)},
    check=report(NONE + sum((present(n, "0020", P) if n == "kvlist007.dll" else absent(n)
                             for n in KEYS[:200]), [])))


def twice(r):
    texts = sorted(shown(r), key=lambda text: "RUNNING" in text)  # records come in any order
    r.expect("reports", 2, len(texts))
    second = section(program="RUNNING") + NONE[4:]
    expect_report(r, texts[0], NONE)
    expect_report(r, texts[1], second)
    expect_report(r, r.file(REPORT).decode("latin-1"), second)


row("report_replaced_by_a_second_run", args="/D", mode="D", check=twice,
    files={REPORT: "an older, longer report\r\n" * 300},
    pre=["C:\\pkg\\tolvanix.exe /D"] + window(CLASS, TITLE))

# A tolvanix.log planted as a link is replaced as a name; what it leads to is left alone.
VICTIM = "C:\\tolvbed\\victim.txt"
for name, victim in [("report_through_a_planted_link_leaves_its_target_alone", b"precious\r\n"),
                     ("report_through_a_dangling_link_creates_no_target", None)]:
    def untouched(r, victim=victim):
        r.expect("the link's target", victim, r.file(VICTIM))
        report(NONE)(r)
    row(name, args="/D", mode="D", check=untouched,
        files={REPORT: Link(VICTIM), **({VICTIM: victim} if victim else {})})

# A listed name whose full path needs 260 characters: no record, nor for the name cut to fit.
LONG = "k" * 236 + ".dll"
row("report_skips_a_record_whose_path_does_not_fit", args="/D", mode="D",
    ini={"KVSPLPROC": [LONG, "kvplain.dll"]},
    files={SYS + "\\" + LONG: "long", (SYS + "\\" + LONG)[:259]: "cut",
           SYS + "\\kvplain.dll": ("plain", PLAIN)},
    check=report(NONE + present("kvplain.dll", "0020", P)))
# Draft names another program could foresee, all taken beforehand: the report still comes.
TAKEN = {"%s\\KPP%X.tmp" % (TEMP, n): "planted" for n in range(1, 17)}
row("report_written_when_foreseeable_draft_names_are_taken", args="/D", mode="D", files=TAKEN,
    check=report(NONE, planted=len(TAKEN)))
