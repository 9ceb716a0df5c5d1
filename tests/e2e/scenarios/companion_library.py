"""The companion library beside the program: which file is loaded, which export is called when,
and what the L mode's log says about it. The test libraries record every attach, call and
detach together with the first line of C:\\windows\\system32\\kvwatch.dll at that moment; the
patch lists kvwatch.dll under [SrcFiles] and the package holds a newer copy ("new" over "old"),
so each call shows whether it came before or after the system-file replacements."""
from bed import scenario, Helper

WATCHED = "C:\\windows\\system32\\kvwatch.dll"
INI = "[tolvanix]\r\n[SrcFiles]\r\n0=kvwatch.dll\r\n"
PATCH_FILES = {WATCHED: ("old\r\n", 1104537600),  # 2005-01-01
               "C:\\pkg\\modules\\2K\\kvwatch.dll": ("new\r\n", 1262304000),  # 2010-01-01
               "C:\\pkg\\modules\\NT\\kvwatch.dll": ("new\r\n", 1262304000)}
FULL, ZERO = Helper("kvprc7a.dll"), Helper("companion/zero.dll")
INST_ONLY, NO_EXPORTS = Helper("companion/inst_only.dll"), Helper("companion/no_exports.dll")
REFUSES = Helper("companion/refuses.dll")

NOT_XP = b"not XP  KvSplServiceControl FALSE \r\n"
STOP_FAILED = b"sstop at  KvSplServiceControl FALSE \r\n"
START_FAILED = b"sstart at  KvSplServiceControl FALSE \r\n"
NO_LIBRARY = b"LoadPrintProcessor FALSE \r\n"


def library(a7=None, m01=None):
    """The package's companion files: kvprc7a.dll and kvprcm01.dll."""
    files = {}
    if a7:
        files["C:\\pkg\\kvprc7a.dll"] = a7
    if m01:
        files["C:\\pkg\\kvprcm01.dll"] = m01
    return files


def calls(r):
    """The libraries' records, one "<loaded as> <event> <kvwatch.dll's first line>" each."""
    return (r.file("C:\\tolvbed\\companion.txt") or b"").decode("latin-1").splitlines()


def expect_calls(r, expected):
    got = calls(r)
    r.check(got == expected, "companion records:\n  expected %r\n  got      %r" % (expected, got))


def loaded(name, *events):
    """A library's whole life in a patch run: attached before kvwatch.dll is replaced, then
    the calls as (export, kvwatch.dll's line), then freed by the program after the replacement."""
    return (["%s attach old" % name] + ["%s %s %s" % (name, e, w) for e, w in events]
            + ["%s detach-free new" % name])


ORDERED = (("UninstService", "old"), ("InstService", "new"))

# name, Windows version, library files, expected records, expected error log (None: no log)
PATCH_RUNS = [
    ("companion_xp_stops_before_and_starts_after_system_files", "winxp", library(FULL),
     loaded("kvprc7a.dll", *ORDERED), None),
    ("companion_win10_stops_before_and_starts_after_system_files", "win10", library(FULL),
     loaded("kvprc7a.dll", *ORDERED), None),
    ("companion_nt40_is_loaded_but_not_called", "nt40", library(FULL),
     loaded("kvprc7a.dll"), NOT_XP + NOT_XP),
    ("companion_win2k_is_loaded_but_not_called", "win2k", library(FULL),
     loaded("kvprc7a.dll"), NOT_XP + NOT_XP),
    ("companion_missing_logs_load_then_stop_and_start", "win7", library(),
     [], NO_LIBRARY + STOP_FAILED + START_FAILED),
    ("companion_kvprc7a_preferred_when_both_load", "win7", library(FULL, FULL),
     loaded("kvprc7a.dll", *ORDERED), None),
    ("companion_kvprc7a_without_exports_still_wins", "win7", library(NO_EXPORTS, FULL),
     loaded("kvprc7a.dll"), STOP_FAILED + START_FAILED),
    ("companion_kvprcm01_used_when_kvprc7a_fails_to_load", "win7", library(REFUSES, FULL),
     ["kvprc7a.dll attach-refused old"] + loaded("kvprcm01.dll", *ORDERED), None),
    ("companion_kvprcm01_alone", "win7", library(m01=FULL),
     loaded("kvprcm01.dll", *ORDERED), None),
    ("companion_with_only_instservice", "win7", library(INST_ONLY),
     loaded("kvprc7a.dll", ("InstService", "new")), STOP_FAILED),
    ("companion_exports_returning_zero_are_logged", "win7", library(ZERO),
     loaded("kvprc7a.dll", *ORDERED), STOP_FAILED + START_FAILED),
]


def patch_run(expected_calls, expected_log):
    def check(r):
        note = r.expect_log_tail()
        r.check(r.file(WATCHED) == b"new\r\n", "kvwatch.dll was not replaced, so the order "
                "proves nothing: %r" % r.file(WATCHED))
        expect_calls(r, expected_calls)
        log = note.content if note.existed else None
        r.check(log == expected_log, "log: expected %r, got %r" % (expected_log, log))
    return check


for name, windows, files, expected_calls, expected_log in PATCH_RUNS:
    scenario(name, windows=windows, args="/L", ini=INI, files=dict(PATCH_FILES, **files))(
        patch_run(expected_calls, expected_log))

# The U mode asks for the stop alone and shows string 4 whatever came of it.
UNINSTALL_RUNS = [
    ("companion_uninstall_calls_uninstservice", "win7", library(FULL),
     ["kvprc7a.dll attach old", "kvprc7a.dll UninstService old", "kvprc7a.dll detach-free old"]),
    ("companion_uninstall_without_library", "win7", library(), []),
    ("companion_uninstall_on_nt40_calls_nothing", "nt40", library(FULL),
     ["kvprc7a.dll attach old", "kvprc7a.dll detach-free old"]),
]


def uninstall_run(expected_calls):
    def check(r):
        r.expect_mode("U")
        expect_calls(r, expected_calls)
        r.check(r.file(WATCHED) == b"old\r\n", "the U mode replaced kvwatch.dll")
    return check


for name, windows, files, expected_calls in UNINSTALL_RUNS:
    scenario(name, windows=windows, args="/U", ini=INI, files=dict(PATCH_FILES, **files))(
        uninstall_run(expected_calls))
