"""The companion library beside the program: which file is loaded, which export is called when,
and the log lines about it. The stand-in records each attach, call and detach with the first
line of system32\\kvwatch.dll then; the patch replaces kvwatch.dll ("old" by "new"), so each
call shows whether it came before or after the system files."""
from bed import row, File, SYS

WATCHED = {"C:\\windows\\system32\\kvwatch.dll": ("old\r\n", 1104537600), **{
    "C:\\pkg\\modules\\%s\\kvwatch.dll" % t: ("new\r\n", 1262304000) for t in ("2K", "NT")}}
INI = {"SrcFiles": ["kvwatch.dll"]}
STOP, START = "sstop at  KvSplServiceControl FALSE \r\n", "sstart at  KvSplServiceControl FALSE \r\n"


def life(name, *calls, until="new"):
    """A library's records in a run: attached before kvwatch.dll is replaced, the calls as
    (export, kvwatch.dll's line), freed by the program at the end."""
    return (["%s attach old" % name] + ["%s %s %s" % (name, c, w) for c, w in calls]
            + ["%s detach-free %s" % (name, until)])


ORDERED = (("UninstService", "old"), ("InstService", "new"))
# name, Windows, mode, kvprc7a.dll, kvprcm01.dll, records, log
for name, windows, mode, a7, m01, calls, log in [
    ("companion_xp_stops_before_and_starts_after_system_files", "winxp", "L", "standin", None,
     life("kvprc7a.dll", *ORDERED), False),
    ("companion_kvprc7a_without_exports_still_wins", "win7", "L", "no_exports", "standin",
     life("kvprc7a.dll"), STOP + START),
    ("companion_kvprcm01_used_when_kvprc7a_fails_to_load", "win7", "L", "refuses", "standin",
     ["kvprc7a.dll attach-refused old"] + life("kvprcm01.dll", *ORDERED), False),
    ("companion_with_only_instservice", "win7", "L", "inst_only", None,
     life("kvprc7a.dll", ("InstService", "new")), STOP),
    ("companion_exports_returning_zero_are_logged", "win7", "L", "zero", None,
     life("kvprc7a.dll", *ORDERED), STOP + START),
    # The U mode asks for the stop alone, replaces nothing, and shows its text whatever came.
    ("companion_uninstall_calls_uninstservice", "win7", "U", "standin", None,
     life("kvprc7a.dll", ("UninstService", "old"), until="old"), None),
]:
    row(name, windows=windows, args="/" + mode, mode=mode, ini=INI, calls=calls, log=log,
        files=dict(WATCHED, **{"C:\\pkg\\" + library: File(variant + ".dll") for library, variant
                               in (("kvprc7a.dll", a7), ("kvprcm01.dll", m01)) if variant}),
        check=lambda r, mode=mode: r.expect("kvwatch.dll", b"new\r\n" if mode == "L" else
                                            b"old\r\n", r.file(SYS + "\\kvwatch.dll")))
