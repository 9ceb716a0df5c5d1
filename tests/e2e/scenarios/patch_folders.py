"""The package folder of each run by the system (NT 4.0: modules\\NT; 2000 and later:
modules\\2K) and by /OS=NT on a later system, for all three lists; the empty SRC value, which
names the package folder itself; and, on systems before XP, the companion's refusal lines
around the system-directory runs."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario  # noqa: E402
from patch_kit import Case, built, package, expect_cases  # noqa: E402

NOT_XP = "not XP  KvSplServiceControl FALSE \r\n"
# Both folders hold a newer copy; which one got installed tells the folder.
TAG_PAYLOADS = {"NT": "v1_0_0_10.dll", "2K": "japanese.dll"}


def cases(tag):
    new = (TAG_PAYLOADS[tag], 0)
    return [Case("folder_pp.dll", ("v1_0_0_9.dll", 0), new, "copied"),
            # SRC is empty: the source is the package folder with a backslash, which has no
            # version, so the installed versioned helper is kept with the version line.
            Case("folder_kv.exe", ("helper.exe", 0), None, "version", "KVSPLPROC", source=""),
            Case("folder_sys.dll", ("v1_0_0_9.dll", 0), new, "copied", "SrcFiles")]


for name, windows, args, tag in [
    ("patch_nt40_takes_modules_nt", "nt40", "/L", "NT"),
    ("patch_2000_takes_modules_2k", "win2k", "/L", "2K"),
    ("patch_os_nt_on_win7_takes_modules_nt", "win7", "/L /OS=NT", "NT"),
]:
    other = "2K" if tag == "NT" else "NT"
    decoys = {"C:\\pkg\\modules\\%s\\%s" % (other, c.name): built(TAG_PAYLOADS[other], 0)
              for c in cases(tag) if c.package}

    @scenario(name, windows=windows, args=args,
              **package(cases(tag), tag=tag, src="", files=decoys))
    def takes_folder(r, tag=tag, windows=windows):
        r.expect_mode("L")
        around = NOT_XP if windows in ("nt40", "win2k") else ""
        expect_cases(r, cases(tag), tag=tag, between=around, after=around)
