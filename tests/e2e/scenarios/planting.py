"""Nothing dropped beside the program or in the current folder runs: version.dll and
lz32.dll (made eligible with WINEDLLOVERRIDES, as Windows would load them from the program's
folder) and notepad.exe each leave a mark when they run. The control runs a program that loads
by bare name, placed the same way, and shows that the check then fails.

One thing is Wine's own: its built-in user32 imports version.dll by name, so a version.dll in
the program's folder is loaded into every program there while its imports are resolved, before
the program runs (Windows' user32 imports no version.dll). That load is marked "static" and
let pass; the program's own loads must come from the system folder, which Wine's loader trace
shows, and a bare-name LoadLibraryA("version.dll") would get the planted module instead."""
from bed import scenario, Helper, ScenarioFailure

PLANTS = {}
for folder in ("C:\\pkg", "C:\\work"):
    for name in ("version.dll", "lz32.dll", "notepad.exe"):
        PLANTS[folder + "\\" + name] = Helper("planted/" + name)
SETTINGS = dict(files=PLANTS, dll_overrides="version,lz32=n,b", winedebug="+loaddll")
SYSTEM = "c:\\windows\\system32\\"


def expect_nothing_planted_ran(r):
    for mark in r.planted:
        r.check(mark.name == "version.dll" and mark.kind == "static",
                "a planted file ran: %r" % mark)
    loads = [path.lower() for path, _ in r.loaded_modules()]
    for name in ("version.dll", "lz32.dll"):
        r.check(SYSTEM + name in loads, "the program did not load %s from the system folder; "
                "its loads: %r" % (name, loads))
    for note in r.notepads:
        r.check(note.module.lower() == SYSTEM + "notepad.exe",
                "Notepad started from %r" % note.module)


for mode, args in [("L", "/L"), ("P", ""), ("U", "/U"), ("V", "/V"), ("D", "/D")]:

    @scenario("planted_files_do_not_run_in_mode_%s" % mode, args=args, **SETTINGS)
    def planted_files_do_not_run(r, mode=mode):
        r.expect_mode(mode)
        expect_nothing_planted_ran(r)


@scenario(program="Setup.exe", program_file=Helper("bareload.exe"), **SETTINGS)
def control_bare_name_loader_trips_the_planting_check(r):
    kinds = sorted((m.name, m.kind) for m in r.planted if "\\pkg\\" in m.path.lower())
    r.check(("lz32.dll", "dynamic") in kinds and ("notepad.exe", "exe") in kinds,
            "the plants did not run for a bare-name loader: %r" % r.planted)
    loads = [path.lower() for path, _ in r.loaded_modules()]
    r.check(SYSTEM + "version.dll" not in loads,
            "a bare-name load of version.dll got the system's: %r" % loads)
    try:
        expect_nothing_planted_ran(r)
    except ScenarioFailure:
        return
    r.fail("the planting check passed a program that loads by bare name")
