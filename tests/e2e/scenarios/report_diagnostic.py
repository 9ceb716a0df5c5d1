"""The D mode's report, read twice: from the Notepad stand-in's copy, taken the moment Notepad
was started, and from tolvanix.log left in the temporary folder. Each scenario compares the
whole report line by line. The helper service is a real Wine service (kvstandin.exe as its
program, made with sc create), the helper program a real window (kvstandin.exe window)."""
import datetime
import os

from bed import scenario, Built, Helper, Link, TEMP

REPORT = TEMP + "\\tolvanix.log"
SYS = "C:\\windows\\system32\\"
SEPARATOR = "-" * 59
FIXED = ["kvqrt7xb.dll", "kvqrtwyn.dll", "kvhl05c.exe", "kvsrv05c.exe", "kvsrv05c.ksi",
         "spool\\prtprocs\\w32x86\\kvprc7a.dll"]
STANDIN = "C:\\tolvbed\\kvstandin.exe"
STANDIN_FILE = {STANDIN: Helper("kvstandin.exe")}
SERVICE_NAME, DISPLAY_NAME = "Kestova XP spl Service", "KvSplService"
WINDOW_CLASS, WINDOW_TITLE = "KestovaSplProcXPwrapper", "KvSplSvc"


# -- set-up ----------------------------------------------------------------------------------
def service(name, display, running):
    sc = "C:\\windows\\system32\\sc.exe"
    pre = ['%s create "%s" binPath= "%s service" DisplayName= "%s"' % (sc, name, STANDIN, display)]
    return pre + (['%s start "%s"' % (sc, name)] if running else [])


def window(cls, title):
    return ['%s window "%s" "%s"' % (STANDIN, cls, title)]


def ini(kvsplproc):
    return "[tolvanix]\r\n[KVSPLPROC]\r\n" + "".join("%s=%s\r\n" % kv for kv in kvsplproc)


# -- the expected report ---------------------------------------------------------------------
def service_section(state="SERVICE_NOT_INSTALLED", program="STOP"):
    return ["Kvsrv05c = " + state, "", "Kvhl05c.exe = " + program, ""]


def absent(name):
    return [SEPARATOR, "file              = " + SYS + name]


def time_text(line, label):
    if not line.startswith(label):
        return None
    try:
        return datetime.datetime.strptime(line[len(label):], "%Y/%m/%d   %H:%M:%S")
    except ValueError:
        return None


def any_time(label):
    test = lambda line: time_text(line, label) is not None  # noqa: E731
    test.__doc__ = "%r and a time text" % label
    return test


def created(written):
    """The creation time of a file the bed has just made, in UTC: Wine shows the older
    last-write time set by the bed, Windows the time the file was made, that is now."""
    def test(line):
        stamp = time_text(line, "Create time       = ")
        now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
        return stamp is not None and (line.endswith("= " + written)
                                      or abs((stamp - now).total_seconds()) < 600)
    test.__doc__ = "a creation time of %s or of now, in UTC" % written
    return test


def present(name, attributes, written, version=""):
    """A present file's record; `written` is the last-write time text, or None for any."""
    times = [created(written), "Last Write time   = " + written] if written else [
        any_time("Create time       = "), any_time("Last Write time   = ")]
    return absent(name) + ["Attributes        = " + attributes] + times + [
        "Version           = " + version, ""]


def fixed_absent():
    return sum((absent(name) for name in FIXED), [])


# -- reading it ------------------------------------------------------------------------------
def reports(r, planted=0):
    """The text of every report Notepad was shown: each start was "notepad", two blanks and
    the report's path, from the system folder, with the file there to copy."""
    r.expect_no_box()
    r.expect_temp_files(r"KPP.*", planted)  # no draft left behind
    texts = []
    for note in r.notepads:
        r.check(note.cmdline == "notepad  " + REPORT,
                "Notepad's command line: expected %r, got %r" % ("notepad  " + REPORT,
                                                                 note.cmdline))
        r.check(note.module.lower() == (SYS + "notepad.exe").lower(),
                "Notepad started from %r" % note.module)
        r.check(note.existed, "Notepad found no report at %s" % note.arg)
        texts.append(note.content.decode("latin-1"))
    return texts


def report(r, planted=0):
    """The one report of the run, which is also the file left in the temporary folder."""
    texts = reports(r, planted)
    r.check(len(texts) == 1, "expected Notepad started once, got %d starts" % len(texts))
    left = r.file(REPORT)
    r.check(left is not None and left.decode("latin-1") == texts[0],
            "the report left in %s differs from Notepad's: %r" % (TEMP, left))
    r.check(not os.path.islink(r.unix(REPORT)), "the report is a link")
    return texts[0]


def expect_report(r, text, expected):
    """Compares a report with a list of lines; an entry may be a test function instead."""
    r.check(text.endswith("\r\n"), "the report does not end in \\r\\n: %r" % text[-80:])
    lines = text[:-2].split("\r\n")
    r.check("\n" not in "".join(lines), "a line feed without a carriage return in the report")
    for i in range(max(len(lines), len(expected))):
        got = lines[i] if i < len(lines) else "<end of report>"
        want = expected[i] if i < len(expected) else "<end of report>"
        if not (want(got) if callable(want) else got == want):
            r.fail("report line %d: expected %s, got %r\n  report:\n    %s" % (
                i + 1, getattr(want, "__doc__", None) or repr(want), got,
                "\n    ".join(lines[max(0, i - 8):i + 3])))


# -- scenarios -------------------------------------------------------------------------------
# The helper service and the helper program: name, set-up, expected service section.
LOOKS = [
    ("report_service_running_and_window_present",
     service(SERVICE_NAME, DISPLAY_NAME, True) + window(WINDOW_CLASS, WINDOW_TITLE),
     service_section("SERVICE_RUNNING", "RUNNING")),
    ("report_service_installed_but_stopped_window_with_other_title",
     service(SERVICE_NAME, DISPLAY_NAME, False) + window(WINDOW_CLASS, "KvSplSvc2"),
     service_section()),
    ("report_service_with_names_swapped_window_of_other_class",
     service(DISPLAY_NAME, SERVICE_NAME, True) + window("KestovaSplProcXP", WINDOW_TITLE),
     service_section()),
]
for name, pre, section in LOOKS:
    scenario(name, args="/D", files=STANDIN_FILE, pre=pre)(
        lambda r, section=section: expect_report(r, report(r), section + fixed_absent()))

# Fixed and listed files, present and absent, in a time zone ten hours west of UTC.
PLAIN_TIME, VERSION_TIME = 1107245109, 1293839999  # 2005-02-01 08:05:09, 2010-12-31 23:59:59
RECORD_FILES = dict(STANDIN_FILE, **{
    SYS + "kvqrt7xb.dll": (Built("fixtures/replace/v1_0_0_9.dll"), VERSION_TIME),
    SYS + "spool\\prtprocs\\w32x86\\kvprc7a.dll": ("plain", PLAIN_TIME),
    SYS + "kvplain.dll": ("plain", PLAIN_TIME),
    SYS + "kvversion.dll": (Built("fixtures/replace/v1_0_0_10.dll"), VERSION_TIME),
    SYS + "kvreadonly.dll": ("plain", PLAIN_TIME),
    SYS + "kvsrc.exe": "the SRC value is a source, not a listed file",
    SYS + "kvbeyondgap.dll": "after the gap"})
RECORD_LIST = [("SRC", "kvsrc.exe"), ("0", "kvplain.dll"), ("1", "kvversion.dll"),
               ("2", "kvabsent.dll"), ("3", "kvreadonly.dll"), ("4", "drivers"),
               ("6", "kvbeyondgap.dll")]


@scenario(args="/D", ini=ini(RECORD_LIST), files=RECORD_FILES, env={"TZ": "HST10"},
          pre=["C:\\windows\\system32\\attrib.exe +r " + SYS + "kvreadonly.dll",
               STANDIN + " tzbias C:\\tolvbed\\tzbias.txt"])
def report_records_fixed_and_listed_files_in_utc(r):
    bias = r.file("C:\\tolvbed\\tzbias.txt")
    r.check(bias == b"600", "Wine does not run ten hours west of UTC (bias %r): the scenario "
            "would not tell UTC from local time" % bias)
    plain = "2005/2/1   8:5:9"
    expect_report(r, report(r), service_section()
                  + present("kvqrt7xb.dll", "0020", "2010/12/31   23:59:59", "1.0.0.9")
                  + absent("kvqrtwyn.dll") + absent("kvhl05c.exe") + absent("kvsrv05c.exe")
                  + absent("kvsrv05c.ksi")
                  + present("spool\\prtprocs\\w32x86\\kvprc7a.dll", "0020", plain)
                  + present("kvplain.dll", "0020", plain)
                  + present("kvversion.dll", "0020", "2010/12/31   23:59:59", "1.0.0.10")
                  + absent("kvabsent.dll")
                  + present("kvreadonly.dll", "0021", plain)
                  + present("drivers", "0010", None))


KEYS = [(str(i), "kvlist%03d.dll" % i) for i in range(201)]


@scenario(args="/D", ini=ini(KEYS), files={SYS + "kvlist007.dll": ("7", PLAIN_TIME)})
def report_lists_200_keys_and_never_key_200(r):
    listed = sum((present(name, "0020", "2005/2/1   8:5:9") if name == "kvlist007.dll"
                  else absent(name) for _, name in KEYS[:200]), [])
    expect_report(r, report(r), service_section() + fixed_absent() + listed)


@scenario(args="/D", files=dict(STANDIN_FILE, **{REPORT: "an older, longer report\r\n" * 300}),
          pre=["C:\\pkg\\tolvanix.exe /D"] + window(WINDOW_CLASS, WINDOW_TITLE))
def report_replaced_by_a_second_run(r):
    texts = reports(r)
    r.check(len(texts) == 2, "expected two Notepad starts, got %d" % len(texts))
    first = service_section() + fixed_absent()
    second = service_section(program="RUNNING") + fixed_absent()
    texts.sort(key=lambda text: "RUNNING" in text)  # the stand-ins' records are not in order
    expect_report(r, texts[0], first)
    expect_report(r, texts[1], second)
    expect_report(r, r.file(REPORT).decode("latin-1"), second)


# A tolvanix.log planted as a link: replaced as a name, the file it leads to left alone.
VICTIM = "C:\\tolvbed\\victim.txt"
PRECIOUS = b"must stay exactly as it is\r\n" * 4
for name, files in [
    ("report_through_a_planted_link_leaves_its_target_alone",
     {VICTIM: PRECIOUS, REPORT: Link(VICTIM)}),
    ("report_through_a_dangling_link_creates_no_target", {REPORT: Link(VICTIM)}),
]:
    @scenario(name, args="/D", files=files)
    def report_through_a_link(r, target=files.get(VICTIM)):
        after = r.file(VICTIM)
        r.check(after == target, "the link's target %s: expected %r, now %r" % (
            VICTIM, target, after))
        r.check(not os.path.islink(r.unix(VICTIM)), "the link's target became a link")
        expect_report(r, report(r), service_section() + fixed_absent())


# A listed name whose full path needs 260 characters: no record for it, neither for the name
# cut to fit (which is there too); the record after it is whole.
LONG = "k" * 236 + ".dll"
CUT = (SYS + LONG)[:259][len(SYS):]


@scenario(args="/D", ini=ini([("0", LONG), ("1", "kvplain.dll")]),
          files={SYS + LONG: "long", SYS + CUT: "cut", SYS + "kvplain.dll": ("plain", PLAIN_TIME)})
def report_skips_a_record_whose_path_does_not_fit(r):
    expect_report(r, report(r), service_section() + fixed_absent()
                  + present("kvplain.dll", "0020", "2005/2/1   8:5:9"))


# Draft names that another program could foresee, all taken beforehand: the report still comes.
TAKEN = {"%s\\KPP%X.tmp" % (TEMP, n): "planted" for n in range(1, 17)}


@scenario(args="/D", files=TAKEN)
def report_written_when_foreseeable_draft_names_are_taken(r):
    expect_report(r, report(r, planted=len(TAKEN)), service_section() + fixed_absent())
