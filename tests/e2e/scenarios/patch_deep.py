"""A package unpacked deep in the folder tree: package paths of 200 characters work, plain and
compressed, and a refusal's log line carries the whole path."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario, Built  # noqa: E402
from patch_kit import Case, package, expect_cases  # noqa: E402

CASES = [Case("deep_compressed.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll_", 0), "copied"),
         Case("deep_plain.dll", ("v1_0_0_9.dll", 0), ("v1_0_0_10.dll", 0), "copied",
              "SrcFiles"),
         Case("deep_older.dll", ("v1_0_0_10.dll", 0), ("v1_0_0_9.dll", 0), "version")]
# Four folders of 40 characters and one that makes the longest source path 200 long.
_TAIL = "\\modules\\2K\\deep_compressed.dll"
DEEP = "C:" + "".join("\\level%d" % i + "x" * 33 for i in range(4))
DEEP += "\\" + "y" * (200 - len(DEEP) - 1 - len(_TAIL))
assert len(CASES[0].source(package=DEEP)) == 200
PROGRAM = DEEP + "\\tolvanix.exe"
SETTINGS = package(CASES, package_dir=DEEP, files={PROGRAM: Built("tolvanix.exe")})


@scenario(cmdline='"%s" /L' % PROGRAM, **SETTINGS)
def patch_from_a_package_path_of_200_characters(r):
    r.expect_mode("L")
    expect_cases(r, CASES, package_dir=DEEP)
