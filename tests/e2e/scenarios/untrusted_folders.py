"""The elevated run against what the user's unelevated programs can write: the temp folder, the
current folder and PATH folders. A temp folder that cannot be written changes no decision; a
library the companion imports is taken from its own folder or the system's, never from the
current folder or PATH; a folder standing at a listed name is a failed copy, not a restart
operation; and a link put at the error log's name once it has a line is neither written
through nor deleted through."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario, Helper, TEMP  # noqa: E402
from patch_kit import (Case, SYS, package, expect_installed, expect_log,  # noqa: E402
                       expect_no_scratch)

NEWER = [Case("tmpless_pp.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied"),
         Case("tmpless_sys.dll", ("same_a.dll", 0), ("same_b.dll", 100), "copied", "SrcFiles")]


@scenario(setenv={"TEMP": "C:\\missing", "TMP": "C:\\missing"}, **package(NEWER))
def patch_installs_newer_files_when_the_temp_folder_cannot_be_written(r):
    r.expect_mode("P")
    expect_installed(r, NEWER)
    expect_no_scratch(r)


# The companion imports kvdep.dll, which lies in the current folder or on PATH, and in the last
# row beside the companion too: it may only ever come from there.
NEEDS_DEP = {"C:\\pkg\\kvprc7a.dll": Helper("companion/needs_dep.dll")}
DEP = Helper("planted/kvdep.dll")
NO_LIBRARY = (b"LoadPrintProcessor FALSE \r\nsstop at  KvSplServiceControl FALSE \r\n"
              b"sstart at  KvSplServiceControl FALSE \r\n")
for name, extra, loaded_from, log in [
    ("companion_imports_never_come_from_the_current_folder", {"C:\\work\\kvdep.dll": DEP}, [],
     NO_LIBRARY),
    ("companion_imports_never_come_from_a_path_folder", {"C:\\onpath\\kvdep.dll": DEP}, [],
     NO_LIBRARY),
    ("companion_imports_come_from_the_companions_own_folder",
     {"C:\\work\\kvdep.dll": DEP, "C:\\onpath\\kvdep.dll": DEP, "C:\\pkg\\kvdep.dll": DEP},
     ["c:\\pkg\\kvdep.dll"], None),
]:
    @scenario(name, args="/L", files=dict(NEEDS_DEP, **extra),
              setenv={"PATH": "C:\\onpath;C:\\windows\\system32;C:\\windows"})
    def companion_imports(r, loaded_from=loaded_from, log=log):
        note = r.expect_log_tail()
        got = note.content if note.existed else None
        r.check(got == log, "log: expected %r, got %r" % (log, got))
        ran = sorted(mark.path.lower() for mark in r.planted)
        r.check(ran == loaded_from, "kvdep.dll ran from %r, expected %r" % (ran, loaded_from))


FOLDER = Case("kvfolder.dll", None, ("v1_0_0_10.dll", 0), "copied", "SrcFiles")


@scenario(args="/L", **package([FOLDER], files={FOLDER.target() + "\\inside.txt": "x"}))
def patch_a_folder_at_a_listed_name_is_a_failed_copy(r):
    r.expect_mode("L")
    target = FOLDER.target()
    expect_log(r, "MoveFileEx %s at CopyLZFile FALSE \r\nCopyLZFile %s at CopySplFile FALSE \r\n"
               % (target, target))
    r.check(r.pending == [], "restart operations registered: %r" % r.pending)
    r.check(os.path.isdir(r.unix(target)), "%s is no longer a folder" % target)
    expect_no_scratch(r)


VICTIM = "C:\\tolvbed\\victim.txt"
PRECIOUS = b"must stay exactly as it is\r\n"


def swap_log_for_link(r):
    """Once the log has its first line, puts a link to VICTIM at its name."""
    if getattr(r, "swapped", None):
        return
    for name in r.listdir(TEMP):
        path = r.unix(TEMP + "\\" + name)
        if re.fullmatch(r"(?i)KPP[0-9A-F]+\.tmp", name) and os.path.getsize(path) > 0:
            os.remove(path)
            os.symlink(r.unix(VICTIM), path)
            r.swapped = name


@scenario(args="/L", files={VICTIM: PRECIOUS}, watch=swap_log_for_link,
          pre=["C:\\windows\\system32\\sc.exe delete spooler"])
def log_never_writes_or_deletes_through_a_link_put_at_its_name(r):
    r.check(getattr(r, "swapped", None), "the log never had a line to swap it after")
    note = r.expect_notepad()
    r.check(note.arg.lower().endswith("\\" + r.swapped.lower()), "Notepad got %r" % note.arg)
    r.check(r.file(VICTIM) == PRECIOUS, "the link's target %s now holds %r" % (
        VICTIM, r.file(VICTIM)))
