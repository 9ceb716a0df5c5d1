"""The L mode's error log: Notepad is shown the log, which holds exactly what was appended,
and the log is gone when the run ends."""
from bed import scenario, Helper

COMPANION = {"C:\\pkg\\kvprc7a.dll": Helper("kvprc7a.dll")}


@scenario(args="/L")
def log_patch_shows_log_in_notepad_and_deletes_it(r):
    r.expect_mode("L")  # Notepad by full path, "notepad  <log>", log gone afterwards
    r.expect_restart(False)
    r.check(r.elapsed_ms >= 2000, "no 2 s pause before the log is deleted: %d ms" % r.elapsed_ms)


@scenario(program="Lpatch.exe", files=COMPANION)
def log_patch_where_nothing_fails_creates_no_log(r):
    # The spooler is there (stopped, as in every new prefix) and the companion library
    # succeeds, so no step has anything to log.
    note = r.expect_log_tail()
    r.check(not note.existed, "a log existed when Notepad started: %r" % note.content)
    r.expect_temp_files(r"KPP.*", 0)


@scenario(args="/L", files=COMPANION, pre=["C:\\windows\\system32\\sc.exe delete spooler"])
def log_holds_exactly_the_spooler_lines(r):
    note = r.expect_log_tail()
    expected = (b"OpenService at StopSpoolService FALSE 1060 \r\n"
                b"OpenService at StartSpoolService FALSE 1060 \r\n")
    r.check(note.content == expected, "log: expected %r, got %r" % (expected, note.content))
    r.expect_temp_files(r"KPP.*", 0)


@scenario(args="/L", windows="nt40", pre=["C:\\windows\\system32\\sc.exe delete spooler"])
def log_holds_every_line_in_the_order_of_the_run(r):
    note = r.expect_log_tail()
    expected = (b"OpenService at StopSpoolService FALSE 1060 \r\n"
                b"OpenService at StartSpoolService FALSE 1060 \r\n"
                b"LoadPrintProcessor FALSE \r\n"
                b"not XP  KvSplServiceControl FALSE \r\n"
                b"not XP  KvSplServiceControl FALSE \r\n")
    r.check(note.content == expected, "log: expected %r, got %r" % (expected, note.content))
