"""The list rules of the three runs, seen through which files a patch run looks at: keys are
walked from "0" in number order whatever their order in the file, a gap ends a list,
[PRINTPROC] stops after key "49", [KVSPLPROC] replaces only present files and all of them
from the SRC file, [SrcFiles] only present files, one for one. The spooler is missing here,
so the log also shows the print-processor copies between the stop and the start request."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario  # noqa: E402
from patch_kit import Case, built, ini, package, expect_cases  # noqa: E402

NEW, OLD = ("v1_0_0_10.dll", 0), ("v1_0_0_9.dll", 0)
# Keys "1" and "0" are refused with a line each: the log shows which was handled first.
FIRST = [Case("p0.dll", NEW, OLD, "version"), Case("p1.dll", NEW, OLD, "version")]
# Not installed yet: copied while listed under "2" to "49"; "50" is past the list's end.
MORE = [Case("p%d.dll" % k, None, NEW, "copied" if k < 50 else "skipped") for k in range(2, 51)]
KVSPLPROC = [
    Case("kv_a.exe", ("helper_old.exe", 0), ("helper.exe", 0), "copied", "KVSPLPROC",
         source="helper.exe"),
    Case("kv_absent.exe", None, ("helper.exe", 0), "skipped", "KVSPLPROC", source="helper.exe"),
    Case("kv_b.dll", ("plain_a.dll", 0), ("helper.exe", 0), "copied", "KVSPLPROC",
         source="helper.exe"),
    Case("kv_after_gap.exe", ("helper_old.exe", 0), ("helper.exe", 0), "skipped", "KVSPLPROC",
         source="helper.exe"),
]
SRCFILES = [
    Case("src_a.dll", OLD, NEW, "copied", "SrcFiles"),
    Case("src_absent.dll", None, NEW, "skipped", "SrcFiles"),
    Case("src_b.dll", ("plain_a.dll", 0), ("plain_b.dll", 100), "copied", "SrcFiles"),
    Case("src_after_gap.dll", OLD, NEW, "skipped", "SrcFiles"),
]
CASES = FIRST + MORE + KVSPLPROC + SRCFILES
LISTS = {
    "PRINTPROC": [("1", "p1.dll"), ("0", "p0.dll")] + [(str(k), "p%d.dll" % k)
                                                      for k in range(2, 51)],
    "KVSPLPROC": [("0", "kv_a.exe"), ("1", "kv_absent.exe"), ("2", "kv_b.dll"),
                  ("4", "kv_after_gap.exe")],
    "SrcFiles": [("0", "src_a.dll"), ("1", "src_absent.dll"), ("2", "src_b.dll"),
                 ("4", "src_after_gap.dll")],
}
# Package files under the KVSPLPROC names, newer than SRC: taken only if SRC were ignored.
DECOYS = {"C:\\pkg\\modules\\2K\\" + c.name: built("v2_0_0_12a.dll")
          for c in KVSPLPROC}


@scenario(args="/L", pre=["C:\\windows\\system32\\sc.exe delete spooler"],
          **package(CASES, files=DECOYS, ini_text=ini(LISTS, src="helper.exe")))
def patch_lists_walk_from_key_0_to_the_first_gap_or_limit(r):
    r.expect_mode("L")
    expect_cases(r, CASES, before="OpenService at StopSpoolService FALSE 1060 \r\n",
                 between="OpenService at StartSpoolService FALSE 1060 \r\n")
