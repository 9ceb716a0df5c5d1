"""What the user's unelevated programs can write against the elevated run: files planted beside
the program or in the current folder, a temp folder that cannot be written, imports of the
companion in the current folder or on PATH, a folder at a listed name, a link put at the error
log's name once it has a line."""
import os
import re

from bed import VICTIM, row, Case, File, TEMP, SYS, COMPANION

# version.dll and lz32.dll (loadable through WINEDLLOVERRIDES, as Windows would) and notepad.exe
# record themselves when they run or are called. Wine's user32 imports version.dll, so the planted
# one attaches to every program at its start ("static"); any other record, or another Notepad,
# ran a plant. A compressed newer file makes the program call both libraries.
PLANTS = {"%s\\%s" % (folder, name): File(kind) for folder in ("C:\\pkg", "C:\\work")
          for name, kind in (("version.dll", "planted.dll"), ("lz32.dll", "planted.dll"),
                             ("notepad.exe", "bedhelper.exe"))}


row("planted_files_do_not_run", args="/L", mode="L", log=..., files=PLANTS,
    cases=[Case("planted_gate.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied")],
    env={"WINEDLLOVERRIDES": "version,lz32=n,b;notepad.exe=n"}, check=lambda r: r.expect(
        "planted files that ran", ([], [SYS.lower() + "\\notepad.exe"] * len(r.notepads)), (
            [c for c in r.calls if not re.match(r"version\.dll (attach-static|detach-exit)", c)],
            [n["module"].lower() for n in r.notepads])))

NEWER = [Case("tmpless_pp.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied"),
         Case("tmpless_sys.dll", ("same_a.dll", 0), ("same_b.dll", 100), "copied", "SrcFiles")]
row("patch_installs_newer_files_when_the_temp_folder_cannot_be_written", mode="P", cases=NEWER,
    setenv={"TEMP": "C:\\missing", "TMP": "C:\\missing"})

# The companion imports kvdep.dll, found in the current folder and on PATH, and in the last row
# beside the companion too: it may come only from there.
for name, folders in [("never_come_from_the_current_folder_or_path", ["work", "onpath"]),
                      ("come_from_the_companions_own_folder", ["work", "onpath", "pkg"])]:
    ran = ["c:\\pkg\\kvdep.dll"] if "pkg" in folders else []
    row("companion_imports_" + name, args="/L", mode="L",
        log=not ran and "LoadPrintProcessor FALSE \r\nsstop at  KvSplServiceControl FALSE \r\n"
                        "sstart at  KvSplServiceControl FALSE \r\n",
        files=dict({"C:\\%s\\kvdep.dll" % f: File("kvdep.dll") for f in folders},
                   **{"C:\\pkg\\kvprc7a.dll": File("needs_dep.dll")}),
        setenv={"PATH": "C:\\onpath;C:\\windows\\system32;C:\\windows"},
        check=lambda r, ran=ran: r.expect("kvdep.dll ran from", ran, [
            c.split()[0].lower() for c in r.records if "kvdep.dll attach" in c]))

FOLDER = Case("kvfolder.dll", None, ("v1_0_0_10.dll", 0), "kept", "SrcFiles")
row("patch_a_folder_at_a_listed_name_is_a_failed_copy", args="/L", mode="L", cases=[FOLDER],
    files=dict(COMPANION, **{FOLDER.target() + "\\inside.txt": "x"}),
    log="MoveFileEx {0} at CopyLZFile FALSE \r\nCopyLZFile {0} at CopySplFile FALSE \r\n".format(
        FOLDER.target()),
    check=lambda r: r.check(r.pending == [] and os.path.isdir(r.unix(FOLDER.target())),
                            "restart operations %r, or no folder any more" % r.pending))


def swap_log_for_link(r):
    """Once the log has its first line, puts a link to VICTIM at its name."""
    for name in [] if getattr(r, "swapped", None) else r.listdir(TEMP):
        path = r.unix(TEMP + "\\" + name)
        if re.fullmatch(r"(?i)KPP[0-9A-F]+\.tmp", name) and os.path.getsize(path) > 0:
            os.remove(path)
            os.symlink(r.unix(VICTIM), path)
            r.swapped = name


def through_the_link(r):
    r.check(getattr(r, "swapped", None), "the log never had a line to swap it after")
    r.expect("Notepad's file", r.swapped.lower(), r.notepads[0]["arg"].rsplit("\\", 1)[-1].lower())
    r.expect("the link's target", b"must stay exactly as it is\r\n", r.file(VICTIM))


row("log_never_writes_or_deletes_through_a_link_put_at_its_name", args="/L",
    files={VICTIM: "must stay exactly as it is\r\n"}, watch=swap_log_for_link,
    pre=["C:\\windows\\system32\\sc.exe delete spooler"], check=through_the_link, mode="L", log=...)
