"""What the user's unelevated programs can write against the elevated run: files planted beside
the program or in the current folder, a temp folder that cannot be written, imports of the
companion in the current folder or on PATH, a folder at a listed name, a link put at the error
log's name once it has a line."""
import os
import re

from bed import row, Case, File, TEMP, SYS

# version.dll and lz32.dll (eligible through WINEDLLOVERRIDES, as Windows loads them from the
# program's folder) and notepad.exe, each recording itself when it runs. Wine's own user32
# imports version.dll, so the planted one attaches to every program there while its imports are
# resolved ("attach-static"); the program's own loads must come from the system folder, which
# Wine's loader trace shows.
PLANTS = {"%s\\%s" % (folder, name): File(kind) for folder in ("C:\\pkg", "C:\\work")
          for name, kind in (("version.dll", "standin.dll"), ("lz32.dll", "standin.dll"),
                             ("notepad.exe", "bedhelper.exe"))}


def loads(r):
    line = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*?)" at ')
    found, tid, program = [], None, ("C:\\pkg\\" + r.sc["program"]).lower()
    for text in open(r.log, "rb").read().decode("latin-1").splitlines():
        m = line.match(text)
        path = m and m.group(2).replace("\\\\", "\\").lower()
        tid = tid or (m and path == program and m.group(1))
        if m and m.group(1) == tid:
            found.append(path)
    return found


def nothing_planted_ran(r):
    ran = [c for c in r.calls if not (c.startswith("version.dll") and c.split()[1] in (
        "attach-static", "detach-exit"))]
    r.expect("planted libraries that ran", [], ran)
    for name in ("version.dll", "lz32.dll"):
        r.check(SYS.lower() + "\\" + name in loads(r), "%s not from the system folder" % name)
    r.expect("Notepad from", [SYS.lower() + "\\notepad.exe"] * len(r.notepads),
             [n["module"].lower() for n in r.notepads])


def control_trips(r):
    r.check({"lz32.dll attach -"} <= set(r.calls) and any(
        n["module"].lower() == "c:\\pkg\\notepad.exe" for n in r.notepads),
        "the plants did not run for a bare-name loader: %r %r" % (r.calls, r.notepads))
    r.check(SYS.lower() + "\\version.dll" not in loads(r), "a bare name got the system's")


PLANTING = dict(files=PLANTS, dll_overrides="version,lz32=n,b", winedebug="+loaddll")
row("planted_files_do_not_run_in_mode_L", args="/L", mode="L", log=..., check=nothing_planted_ran,
    **PLANTING)
row("planted_files_do_not_run_in_mode_D", args="/D", mode="D", check=nothing_planted_ran,
    **PLANTING)
row("control_bare_name_loader_trips_the_planting_check", program="Setup.exe",
    cmdline='"{program}" bareload', check=control_trips, exit=0, **dict(PLANTING, files=dict(
        PLANTS, **{"C:\\pkg\\Setup.exe": File("bedhelper.exe")})))

NEWER = [Case("tmpless_pp.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied"),
         Case("tmpless_sys.dll", ("same_a.dll", 0), ("same_b.dll", 100), "copied", "SrcFiles")]
row("patch_installs_newer_files_when_the_temp_folder_cannot_be_written", mode="P", cases=NEWER,
    setenv={"TEMP": "C:\\missing", "TMP": "C:\\missing"})

# The companion imports kvdep.dll, from the current folder or from PATH, and in the last row
# from beside itself too: it may come only from there.
DEP = File("kvdep.dll")
NO_LIBRARY = ("LoadPrintProcessor FALSE \r\nsstop at  KvSplServiceControl FALSE \r\n"
              "sstart at  KvSplServiceControl FALSE \r\n")
for name, extra, ran, log in [
    ("companion_imports_never_come_from_the_current_folder", {"C:\\work\\kvdep.dll": DEP}, [],
     NO_LIBRARY),
    ("companion_imports_never_come_from_a_path_folder", {"C:\\onpath\\kvdep.dll": DEP}, [],
     NO_LIBRARY),
    ("companion_imports_come_from_the_companions_own_folder",
     {"C:\\work\\kvdep.dll": DEP, "C:\\onpath\\kvdep.dll": DEP, "C:\\pkg\\kvdep.dll": DEP},
     ["c:\\pkg\\kvdep.dll"], False),
]:
    row(name, args="/L", mode="L", log=log,
        files=dict(extra, **{"C:\\pkg\\kvprc7a.dll": File("needs_dep.dll")}),
        setenv={"PATH": "C:\\onpath;C:\\windows\\system32;C:\\windows"},
        check=lambda r, ran=ran: r.expect("kvdep.dll ran from", ran, [
            c.split()[0].lower() for c in r.records if "kvdep.dll attach" in c]))

FOLDER = Case("kvfolder.dll", None, ("v1_0_0_10.dll", 0), "kept", "SrcFiles")
row("patch_a_folder_at_a_listed_name_is_a_failed_copy", args="/L", mode="L", cases=[FOLDER],
    files={FOLDER.target() + "\\inside.txt": "x"},
    log="MoveFileEx {0} at CopyLZFile FALSE \r\nCopyLZFile {0} at CopySplFile FALSE \r\n".format(
        FOLDER.target()),
    check=lambda r: r.check(r.pending == [] and os.path.isdir(r.unix(FOLDER.target())),
                            "restart operations %r, or no folder any more" % r.pending))

VICTIM = "C:\\tolvbed\\victim.txt"


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
    pre=["C:\\windows\\system32\\sc.exe delete spooler"], check=through_the_link, mode="L",
    log=...)
