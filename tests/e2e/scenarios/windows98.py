"""On a Windows 95/98/Me setting every mode ends at once: no box, no Notepad, exit code 0."""
from bed import scenario

for name, program, args in [("patch", "Setup.exe", ""), ("log_patch", "tolvanix.exe", "/L"),
                            ("uninstall", "uninst.exe", ""), ("version", "tolvanix.exe", "/V"),
                            ("diagnose", "Diag.exe", "")]:

    @scenario("win98_%s_ends_at_once" % name, windows="win98", program=program, args=args,
              answer="ok")
    def ends_at_once(r):
        r.expect_no_box()
        r.expect_no_notepad()
        r.expect_restart(False)
        # The L mode alone would sleep 2 s; "at once" leaves room for Wine's process start.
        r.check(r.elapsed_ms < 1500, "the run took %d ms" % r.elapsed_ms)
