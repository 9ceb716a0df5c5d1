"""Patch runs: which listed files are replaced (the version gate, /FOW, the lists, the package
folder per system), now or at the restart, with the spooler told to stop and to start around
the print-processor files, and what the L mode's log says of each."""
import os
import re
import stat

from bed import row, Case, File, SYS, PRTPROCS, COMPANION

NEW, OLD = ("v1_0_0_10.dll", 0), ("v1_0_0_9.dll", 0)

# (listed name, installed payload and time, package payload and time, outcome); times are
# seconds from T0, set against the outcome wherever the times must not be looked at.
GATE = [Case(*c) for c in [
    ("newer_version.dll", ("v1_0_0_9.dll", 100), ("v1_0_0_10.dll", -100), "copied"),
    ("older_version.dll", ("v1_0_0_10.dll", -100), ("v1_0_0_9.dll", 100), "version"),
    ("same_version_newer.dll", ("same_a.dll", 0), ("same_b.dll", 2), "copied"),
    ("same_version_same_time.dll", ("same_a.dll", 0), ("same_b.dll", 0), "time"),
    ("same_version_older.dll", ("same_a.dll", 0), ("same_b.dll", -2), "time"),
    # 65536 and 6.5536 read as one number, as do two versions one letter apart.
    ("digits_older.dll", ("v1_0_0_65536.dll", 0), ("v1_0_6_5536.dll", -100), "time"),
    ("letter_older.dll", ("v2_0_0_12a.dll", 0), ("v2_0_0_12b.dll", -100), "time"),
    # A top field of 0x8000 makes the number negative: below every ordinary version.
    ("top_field_8000.dll", ("v1_0_0_0.dll", -100), ("v8000_0_0_0.dll", 100), "version"),
    ("unversioned_older.dll", ("plain_a.dll", 0), ("plain_b.dll", -100), "time"),
    ("japanese_table.dll", ("v1_0_0_9.dll", 100), ("japanese.dll", -100), "copied"),
    ("german_table.dll", ("v1_0_0_0.dll", -100), ("german.dll", 100), "version"),
    ("created.dll", None, ("v1_0_0_10.dll", -100), "copied"),
    ("created_unversioned.dll", None, ("plain_b.dll", -100), "copied"),
    ("no_package.dll", ("v1_0_0_9.dll", 0), None, "version"),
    ("no_package_unversioned.dll", ("plain_a.dll", 0), None, "time"),
    # Compressed package files are judged and installed as they expand, with their own time.
    ("compressed.dll", ("v1_0_0_9.dll", 100), ("v1_0_0_10.dll_", -100), "copied"),
    ("compressed_same_older.dll", ("same_a.dll", 0), ("same_b.dll_", -100), "time"),
]]
FORCED = [Case(*c) for c in [
    ("forced_older.dll", ("v1_0_0_10.dll", 100), ("v1_0_0_9.dll", -100), "copied"),
    ("forced_same_time.dll", ("same_a.dll", 0), ("same_b.dll_", 0), "copied"),
    ("forced_8000.dll", ("v1_0_0_0.dll", 0), ("v8000_0_0_0.dll_", 0), "copied"),
    ("forced_no_package.dll", ("v1_0_0_9.dll", 0), None, "nosource"),
    ("forced_empty.dll", ("v1_0_0_9.dll", 0), ("empty.sz", 0), "copied"),
    ("forced_empty_compressed.dll", ("v1_0_0_9.dll", 0), ("empty.sz_", 0), "copied"),
    # Cut short, its header promising more than its data: Wine's LZCopy stops at the end of the
    # data without an error, yet the installed file must stay whole.
    ("cut_short.dll", ("v1_0_0_9.dll", 0), ("cut.dll_", 100), "lzfail"),
    # Compressed in forms the expander hands back as they stand: never installed so.
    ("kwaj.dll", ("v1_0_0_9.dll", 0), ("kwaj.dll_", 100), "lzfail"),
    ("sz_older_form.dll", ("v1_0_0_9.dll", 0), ("sz.dll_", 100), "lzfail"),
    ("szdd_mode_b.dll", ("v1_0_0_9.dll", 0), ("szdd_b.dll_", 100), "lzfail"),
]]
row("patch_gate_replaces_only_newer_package_files", args="/L", mode="L", cases=GATE,
    files=COMPANION)
row("patch_forced_copies_whatever_the_versions", args="/L /FOW", mode="L", cases=FORCED,
    files=COMPANION)

# Keys are walked from "0" in number order whatever their order in the file, a gap ends a list,
# PRINTPROC stops after "49", KVSPLPROC replaces only present files and all from SRC, SrcFiles
# only present files. Package files under the KVSPLPROC names would be taken if SRC were not.
LISTED = ([Case("p0.dll", NEW, OLD, "version"), Case("p1.dll", NEW, OLD, "version")]
          + [Case("p%d.dll" % k, None, NEW, "copied" if k < 50 else "kept") for k in range(2, 51)]
          + [Case(n, i, ("helper.exe", 0), o, "KVSPLPROC", "helper.exe") for n, i, o in [
              ("kv_a.exe", ("helper_old.exe", 0), "copied"), ("kv_absent.exe", None, "kept"),
              ("kv_b.dll", ("plain_a.dll", 0), "copied"),
              ("kv_after_gap.exe", ("helper_old.exe", 0), "kept")]]
          + [Case(n, i, p, o, "SrcFiles") for n, i, p, o in [
              ("src_a.dll", OLD, NEW, "copied"), ("src_absent.dll", None, NEW, "kept"),
              ("src_b.dll", ("plain_a.dll", 0), ("plain_b.dll", 100), "copied"),
              ("src_after_gap.dll", OLD, NEW, "kept")]])
row("patch_lists_walk_from_key_0_to_the_first_gap_or_limit", args="/L", mode="L", cases=LISTED,
    src="helper.exe", pre=["C:\\windows\\system32\\sc.exe delete spooler"],
    ini={"PRINTPROC": [("1", "p1.dll"), ("0", "p0.dll")] + [c.name for c in LISTED[2:51]],
         "KVSPLPROC": [c.name for c in LISTED[51:54]] + [("4", "kv_after_gap.exe")],
         "SrcFiles": [c.name for c in LISTED[55:58]] + [("4", "src_after_gap.dll")]},
    files=dict(COMPANION, **{"C:\\pkg\\modules\\2K\\" + c.name: File("v2_0_0_12a.dll")
                             for c in LISTED[51:55]}),
    # The spooler is told to stop before the print processors are copied and to start after.
    log="OpenService at StopSpoolService FALSE 1060 \r\n{pp}"
        "OpenService at StartSpoolService FALSE 1060 \r\n{sys}")

# One target held open by another program, one read-only: each waits for the restart as its
# deletion, then the move of a kv file of its folder onto it; read-only goes at once. With equal
# versions the held file's time reads as none, so the package file is newer.
WAITING = [Case("held.dll", ("same_a.dll", 0), ("same_b.dll_", -100), "kept"),
           Case("readonly.dll", OLD, NEW, "kept", "SrcFiles")]


def wait_for_the_restart(r):
    r.check(os.stat(r.unix(WAITING[1].target())).st_mode & stat.S_IWUSR, "still read-only")
    want = sum(([re.compile(r"(?i)\\\?\?\\%s > " % re.escape(t)), re.compile(
        r"(?i)\\\?\?\\%s\\kv[0-9a-f]+\.tmp > \\\?\?\\%s" % (re.escape(t.rsplit("\\", 1)[0]),
                                                re.escape(t)))] for t in map(Case.target, WAITING)), [])
    r.expect("operations", tuple(want), tuple("%s > %s" % p for p in r.pending))
    staged = [p[0][4:] for p in r.pending[1::2]]
    r.expect("the kv files", [r.testfile(c.package.name.rstrip("_")) for c in WAITING],
             [r.file(f) for f in staged])
    r.after_restart()
    r.expect("after the restart", [r.testfile(c.package.name.rstrip("_")) for c in WAITING] + [
        None, None], [r.file(c.target()) for c in WAITING] + [r.file(f) for f in staged])


row("patch_locked_and_read_only_targets_wait_for_the_restart", args="/L", mode="L",
    cases=WAITING, files=COMPANION, check=wait_for_the_restart,
    pre=["hold " + WAITING[0].target(), "attrib.exe +r " + WAITING[1].target()])

# An installed (newer) or a package file held without sharing fails, never read as version 0;
# names that reach past the folder (..\\escaped.dll would land in spool\prtprocs), a stream, a
# device or a wildcard are refused before anything is read. Nothing waits for the restart.
UNREADABLE = [Case("locked_installed.dll", NEW, OLD, "unread")] + [
    Case(n, None, p, "notplain") for n, p in (("..\\escaped.dll", NEW), ("kv.dll:s", None),
                                              ("LPT1.dll", None), ("*.dll", None))] + [
    Case("locked_package.dll", OLD, NEW, "unreadsrc", "SrcFiles"),
    Case("NUL", None, None, "notplain", "SrcFiles")]
row("patch_what_cannot_be_read_fails_closed_and_odd_names_are_refused", args="/L", mode="L",
    cases=UNREADABLE, files=COMPANION,
    check=lambda r: r.expect("restart operations", [], r.pending),
    pre=["lock " + UNREADABLE[0].target(), "lock " + UNREADABLE[5].source("2K", "C:\\pkg")])

# A package 200 characters deep: LZ paths past OFSTRUCT's 128, whole paths in the log, and a
# path that does not fit skipped with its line.
DEEP = "C:" + "".join("\\level%d" % i + "x" * 33 for i in range(4))
DEEP += "\\" + "y" * (200 - len(DEEP) - 1 - len("\\modules\\2K\\deep_compressed.dll"))
LONG = "n" * 80 + ".dll"  # its package path takes 265 characters: skipped with a line
row("patch_from_a_package_path_of_200_characters", args="/L", mode="L", package=DEEP,
    cases=[Case("deep_compressed.dll", OLD, ("v1_0_0_10.dll_", 0), "copied"),
           Case("deep_plain.dll", OLD, NEW, "copied", "SrcFiles"),
           Case("deep_older.dll", NEW, OLD, "version"), Case(LONG, None, None, "kept")],
    log="{pp}wsprintf %s at CopyPrtProcFile FALSE \r\n{sys}" % LONG,
    files={DEEP + "\\kvprc7a.dll": File("standin.dll")})

# The package folder by system and by /OS=NT; an empty SRC names the package folder itself,
# which cannot be read as a file: the copy fails and the helper is kept; below XP the companion's refusals
# stand around the system-directory runs. The other folder's copies would show if taken.
PAYLOAD = {"NT": "v1_0_0_10.dll", "2K": "japanese.dll"}
for name, windows, args, tag in [("patch_nt40_takes_modules_nt", "nt40", "/L", "NT"),
                                 ("patch_os_nt_on_win7_takes_modules_nt", "win7", "/L /OS=NT", "NT"),
                                 # /OS=2000 wins whatever the order; options are case-sensitive.
                                 ("patch_os_2000_wins_on_nt40", "nt40", "/L /OS=2000 /OS=NT", "2K"),
                                 ("patch_os_lower_case_is_no_option", "win7", "/L /os=nt", "2K")]:
    other = "2K" if tag == "NT" else "NT"
    cases = [Case("folder_pp.dll", OLD, (PAYLOAD[tag], 0), "copied"),
             Case("folder_kv.exe", ("helper.exe", 0), None, "unreadsrc", "KVSPLPROC", ""),
             Case("folder_sys.dll", OLD, (PAYLOAD[tag], 0), "copied", "SrcFiles")]
    not_xp = "not XP  KvSplServiceControl FALSE \r\n" if windows != "win7" else ""
    row(name, windows=windows, args=args, mode="L", cases=cases, tag=tag, src="", only32=True,
        files=dict(COMPANION, **{"C:\\pkg\\modules\\%s\\%s" % (other, c.name): File(
            PAYLOAD[other]) for c in cases}), log="{pp}" + not_xp + "{sys}" + not_xp)
