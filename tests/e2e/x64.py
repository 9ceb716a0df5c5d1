"""64-bit Windows, in a 64-bit prefix: the 64-bit program patches the native system32 and
spool\\prtprocs\\x64 (now and at the restart) with modules\\X64 and its companion there, while the
32-bit copies stay; the 32-bit program hands the run to it; without it nothing is touched."""
from bed import row, Case, File, PRTPROCS, SYS, TEMP, WOW64

X64, CHECK64 = "C:\\pkg\\modules\\X64\\", "C:\\pkg\\tolvanix-check64.exe"
PP = Case("kvpp64.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied", x64=True)
OLDER = Case("kvold64.dll", ("v1_0_0_10.dll", 0), ("v1_0_0_9.dll", 0), "version", "SrcFiles")
HELD = Case("kvheld64.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "kept", "SrcFiles")
INI = {"PRINTPROC": [PP.name], "SrcFiles": [OLDER.name, HELD.name, "kvwatch.dll"]}
HALF32 = {PRTPROCS + "\\kvpp64.dll": File("v1_0_0_9.dll"), WOW64 + "\\kvwatch.dll": "old\r\n"}
FILES = dict(HALF32, **{X64 + "kvprc7a.dll": File("standin.dll"), CHECK64: File(
    "../tolvanix-check.exe"), SYS + "\\kvwatch.dll": ("old\r\n", 1104537600),
    X64 + "kvwatch.dll": ("new\r\n", 1262304000)})
CALLS = ["kvprc7a.dll " + c for c in ("attach old", "UninstService old", "InstService new",
                                      "detach-free new")]
WIN64 = dict(arch="win64", windows="win10", mode="L", tag="X64", ini=INI, calls=CALLS)


def native(check, held=False):
    """The 32-bit half as it was; verify by check says x64, 1 while a file waits, then 0."""
    def look(r):
        r.expect("the 32-bit half", [r.testfile("v1_0_0_9.dll"), b"old\r\n"], [r.file(p) for p in
                                                                              HALF32])
        r.expect("restart operations", 2 * held, len(r.pending))
        for want in (1, 0) if held else (0,):
            code, out = r.run_console(check + " verify C:\\pkg")
            r.check(code == want and "architecture: x64" in out and PP.target() in out,
                    "verify's exit code %d (want %d), output:\n%s" % (code, want, out))
            r.after_restart()
        r.check(not held or r.file(HELD.target()) == r.testfile("v1_0_0_10.dll"), HELD.name)
    return look


row("x64_program_patches_the_native_folders_now_and_at_the_restart", program="tolvanix64.exe",
    args="/L", cases=[PP, OLDER, HELD], files=FILES, pre=["hold " + HELD.target()],
    check=native(CHECK64, held=True), **WIN64)
# The 32-bit program, under a name that picks the L mode, hands the run and its mode on.
row("x64_one_package_command_line_hands_the_run_to_the_64_bit_program", program="Lpatch.exe",
    cases=[PP, OLDER], check=native("C:\\pkg\\tolvanix-check.exe"), **WIN64, files=dict(
        FILES, **{"C:\\pkg\\" + n: File("x86:../" + e) for n, e in (
            ("Lpatch.exe", "tolvanix.exe"), ("tolvanix-check.exe", "tolvanix-check.exe"))}))


def refused(r):
    """Box caption; quiet: 1633 (its low byte); plan predicts it; nothing loaded or logged."""
    code, (plan, out) = r.run_console("C:\\pkg\\tolvanix64.exe /L /QUIET")[0], r.run_console(
        CHECK64 + " plan C:\\pkg")
    r.expect("the box's caption, quiet exit code, plan's, its 1633, the stand-in, the kept log", (
        "Kestova PrintProcessor patch", 97, 2, True, [], None), (r.boxes[0]["caption"], code, plan,
        "1633" in out, r.calls, r.file(TEMP + "\\tolvanix-errors.log")))


row("x64_without_64_bit_files_refuses_before_touching_anything", program="tolvanix64.exe",
    arch="win64", windows="win10", args="/L", mode="R", answer="ok", calls=[], check=refused,
    files={X64: None, "C:\\pkg\\kvprc7a.dll": File("standin.dll"), CHECK64: FILES[CHECK64]},
    cases=[Case("kvpp64.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "kept", x64=True)])
