"""What only 64-bit Windows shows, in a 64-bit prefix: the 64-bit program replaces the files of
the native system32 and of spool\\prtprocs\\x64 (now and at the restart), calls the 64-bit
companion library from modules\\X64, logs and is checked by the 64-bit tolvanix-check; the
32-bit program of the same package hands the run to it; without the 64-bit half nothing is
touched and a quiet run exits 1633."""
from bed import row, Case, File, PRTPROCS, SYS, TEMP, WOW64

X64 = "C:\\pkg\\modules\\X64\\"
CHECK64 = "C:\\pkg\\tolvanix-check64.exe"
PP = Case("kvpp64.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied", x64=True)
OLDER = Case("kvold64.dll", ("v1_0_0_10.dll", 0), ("v1_0_0_9.dll", 0), "version", "SrcFiles")
HELD = Case("kvheld64.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "kept", "SrcFiles")
INI = {"PRINTPROC": [PP.name], "SrcFiles": [OLDER.name, HELD.name, "kvwatch.dll"]}
# The 32-bit half of the system as a 32-bit program would have patched it: it must stay so.
FILES = {X64 + "kvprc7a.dll": File("standin.dll"), CHECK64: File("../tolvanix-check.exe"),
         SYS + "\\kvwatch.dll": ("old\r\n", 1104537600), X64 + "kvwatch.dll": ("new\r\n", 1262304000),
         PRTPROCS + "\\kvpp64.dll": File("v1_0_0_9.dll"), WOW64 + "\\kvwatch.dll": "old\r\n",
         WOW64 + "\\kvheld64.dll": File("v1_0_0_9.dll")}
CALLS = ["kvprc7a.dll attach old", "kvprc7a.dll UninstService old", "kvprc7a.dll InstService new",
         "kvprc7a.dll detach-free new"]


def native(check, held=False):
    """The 32-bit half untouched; check (the 64-bit or, through it, the 32-bit tolvanix-check)
    says it checked x64; verify says 1 while the held file waits for the restart, 0 after."""
    def look(r):
        r.expect("the 32-bit half", (r.testfile("v1_0_0_9.dll"), b"old\r\n", r.testfile(
            "v1_0_0_9.dll")), (r.file(PRTPROCS + "\\kvpp64.dll"), r.file(WOW64 + "\\kvwatch.dll"),
                                r.file(WOW64 + "\\kvheld64.dll")))
        r.expect("kvwatch.dll in the native system32", b"new\r\n", r.file(SYS + "\\kvwatch.dll"))
        r.expect("restart operations", 2 * held, len(r.pending))
        for want in (1, 0) if held else (0,):
            code, out = r.run_console(check + " verify C:\\pkg")
            r.check(code == want and "architecture: x64" in out and PP.target() in out,
                    "verify's exit code %d (want %d), output:\n%s" % (code, want, out))
            r.after_restart()
        if held:
            r.expect(HELD.name + " after the restart", r.testfile("v1_0_0_10.dll"),
                     r.file(HELD.target()))
    return look


row("x64_program_patches_the_native_folders_now_and_at_the_restart", arch="win64",
    program="tolvanix64.exe", windows="win10", args="/L", mode="L", tag="X64",
    cases=[PP, OLDER, HELD], ini=INI, files=FILES, pre=["hold " + HELD.target()], calls=CALLS,
    check=native(CHECK64, held=True))

# The README's one command line for every machine, under a name that picks the L mode.
row("x64_one_package_command_line_hands_the_run_to_the_64_bit_program", arch="win64",
    program="Lpatch.exe", windows="win10", args="/QUIET", tag="X64", cases=[PP, OLDER], ini=INI,
    exit=3010, calls=CALLS, files=dict(FILES, **{
        "C:\\pkg\\Lpatch.exe": File("x86:../tolvanix.exe"), "C:\\pkg\\tolvanix-check.exe":
        File("x86:../tolvanix-check.exe")}), check=native("C:\\pkg\\tolvanix-check.exe"))


def refused(r):
    """The quiet run's code and the check's prediction; nothing stopped, loaded or written."""
    code, _ = r.run_console("C:\\pkg\\tolvanix64.exe /L /QUIET")
    plan, out = r.run_console(CHECK64 + " plan C:\\pkg")
    r.expect("the quiet run's exit code (its low byte), plan's exit code and its 1633", (
        1633 & 0xFF, 2, True), (code, plan, "1633" in out))
    r.expect("the companion, the kept log", ([], None), (r.calls, r.file(
        TEMP + "\\tolvanix-errors.log")))


row("x64_without_64_bit_files_refuses_before_touching_anything", arch="win64",
    program="tolvanix64.exe", windows="win10", args="/L", mode="R", answer="ok",
    cases=[Case("kvpp64.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "kept", x64=True)],
    files={X64: None, "C:\\pkg\\kvprc7a.dll": File("standin.dll"), CHECK64:
           File("../tolvanix-check.exe")}, calls=[], check=refused)
