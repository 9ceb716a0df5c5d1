"""The run control seen from outside: the closing box and what its buttons do, the L mode's
log in Notepad (every line in the order of the run, the 2 s pause, then gone), the file name
picking the mode, and Windows 95/98/Me, where every mode ends at once."""
from bed import row, File

row("version_box_ok_asks_for_the_restart", args="/V", mode="V", answer="ok",
    ini="[tolvanix]\r\nManufacturer=Acme Print\r\n", caption="Acme Print PrintProcessor patch")
row("version_box_escape_asks_for_nothing", args="/V", mode="V", answer="escape", ini=None)


def pause(r):
    r.check(r.elapsed_ms >= 2000, "no 2 s pause before the log is deleted: %d ms" % r.elapsed_ms)


# Nothing fails (the spooler is there, the companion succeeds): no log file at all.
row("log_patch_named_lpatch_where_nothing_fails_creates_no_log", program="Lpatch.exe", mode="L",
    log=False, files={"C:\\pkg\\kvprc7a.dll": File("standin.dll")}, check=pause)
row("log_holds_every_line_in_the_order_of_the_run", args="/L", windows="nt40", mode="L",
    pre=["C:\\windows\\system32\\sc.exe delete spooler"],
    log="OpenService at StopSpoolService FALSE 1060 \r\n"
        "OpenService at StartSpoolService FALSE 1060 \r\nLoadPrintProcessor FALSE \r\n"
        "not XP  KvSplServiceControl FALSE \r\nnot XP  KvSplServiceControl FALSE \r\n")
# "At once" leaves room for Wine's process start; the L mode alone would sleep 2 s.
row("win98_log_patch_ends_at_once", windows="win98", args="/L", answer="ok",
    check=lambda r: r.check(r.elapsed_ms < 1500, "the run took %d ms" % r.elapsed_ms))
