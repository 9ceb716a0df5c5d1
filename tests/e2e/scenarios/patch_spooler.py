"""The spooler is stopped around the print-processor copies: a watcher in the session records
the spooler's state and the appearance of the copied file. The running spooler leaves the
running state, the file appears while it is not running, at least the fixed waits after the
stop and before the start, and the spooler runs again afterwards."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario, Helper  # noqa: E402
from patch_kit import Case, package, expect_cases  # noqa: E402

RUNNING = 4
COPIED = Case("watched.dll", None, ("v1_0_0_10.dll_", 0), "copied")
WATCH = "C:\\tolvbed\\spoolwatch.exe"


@scenario(args="/L", pre=["C:\\windows\\system32\\sc.exe start spooler",
                          "cmd.exe /c start %s %s" % (WATCH, COPIED.target()), WATCH + " --wait"],
          **package([COPIED], files={WATCH: Helper("spoolwatch.exe")}))
def patch_copies_print_processor_files_with_the_spooler_stopped(r):
    r.expect_mode("L")
    expect_cases(r, [COPIED])
    text = (r.file("C:\\tolvbed\\spoolwatch.txt") or b"").decode("latin-1")
    events = [tuple(int(x) for x in line.split()) for line in text.split("\n") if line]
    seen = "spooler watch (ms, state, file there):\n  %s" % "\n  ".join(map(str, events))
    r.check(events and events[0][1:] == (RUNNING, 0), "not running with no file at first: "
            + seen)
    stopped = next((t for t, state, _ in events if state != RUNNING), None)
    copied = next((t for t, _, there in events if there), None)
    r.check(stopped is not None and copied is not None, "no stop or no copy seen: " + seen)
    r.check(all(state != RUNNING for t, state, _ in events if stopped <= t <= copied),
            "the spooler ran again before the copy: " + seen)
    started = next((t for t, state, _ in events if t > copied and state == RUNNING), None)
    r.check(started is not None and events[-1][1] == RUNNING,
            "the spooler was not running again after the copy: " + seen)
    # The stop is seen a poll after the request; the waits are 1.5 s and 1 s.
    r.check(copied - stopped >= 1400 and started - copied >= 900,
            "the fixed waits around the copy are missing: " + seen)
