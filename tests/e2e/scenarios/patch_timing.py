"""A full-size patch run: 50 [PRINTPROC], 200 [KVSPLPROC] and 200 [SrcFiles] files, all
installed and all older than the package (half of it compressed), all replaced, nothing
logged. Prints how long the run took against its fixed waits (1.5 s + 1 s before and after
the print-processor copies, 2 s between showing and deleting the log)."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario  # noqa: E402
from patch_kit import Case, package, expect_cases  # noqa: E402

FIXED_WAITS_MS = 1500 + 1000 + 2000
OLD = ("v1_0_0_9.dll", 0)


def newer(i):
    return ("v1_0_0_10.dll_" if i % 2 else "v1_0_0_10.dll", 0)


CASES = ([Case("pp%02d.dll" % i, OLD, newer(i), "copied") for i in range(50)]
         + [Case("kv%03d.exe" % i, ("helper_old.exe", 0), ("helper.exe_", 0), "copied",
                 "KVSPLPROC", source="helper.exe") for i in range(200)]
         + [Case("sf%03d.dll" % i, OLD, newer(i), "copied", "SrcFiles") for i in range(200)])


@scenario(args="/L", timeout=60, **package(CASES, src="helper.exe"))
def patch_timing_of_50_200_200_files(r):
    r.expect_mode("L")
    expect_cases(r, CASES)
    print("  timing: %d listed files replaced in %d ms, of which %d ms fixed waits" % (
        len(CASES), r.elapsed_ms, FIXED_WAITS_MS))
