"""The version gate end to end: which installed files a patch run replaces, by the package
copy's FileVersion and then its last-write time, or always with /FOW; what each refusal
writes to the L mode's log; and that a failed expansion leaves the installed file alone."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bed import scenario  # noqa: E402
from patch_kit import Case, package, expect_cases  # noqa: E402

# (listed name, installed payload and time, package payload and time, outcome); times are
# seconds from T0, chosen against the outcome wherever the times must not be looked at.
GATE = [Case(*c) for c in [
    ("newer_version.dll", ("v1_0_0_9.dll", 100), ("v1_0_0_10.dll", -100), "copied"),
    ("older_version.dll", ("v1_0_0_10.dll", -100), ("v1_0_0_9.dll", 100), "version"),
    ("same_version_newer.dll", ("same_a.dll", 0), ("same_b.dll", 2), "copied"),
    ("same_version_same_time.dll", ("same_a.dll", 0), ("same_b.dll", 0), "time"),
    ("same_version_older.dll", ("same_a.dll", 0), ("same_b.dll", -2), "time"),
    # 65536 and 6.5536 read as the same number, as do two versions one letter apart.
    ("digits_newer.dll", ("v1_0_6_5536.dll", 0), ("v1_0_0_65536.dll", 100), "copied"),
    ("digits_older.dll", ("v1_0_0_65536.dll", 0), ("v1_0_6_5536.dll", -100), "time"),
    ("letter_newer.dll", ("v2_0_0_12b.dll", 0), ("v2_0_0_12a.dll", 100), "copied"),
    ("letter_older.dll", ("v2_0_0_12a.dll", 0), ("v2_0_0_12b.dll", -100), "time"),
    # A top field of 0x8000 makes the number negative: below every ordinary version.
    ("top_field_8000.dll", ("v1_0_0_0.dll", -100), ("v8000_0_0_0.dll", 100), "version"),
    ("unversioned_newer.dll", ("plain_a.dll", 0), ("plain_b.dll", 100), "copied"),
    ("unversioned_older.dll", ("plain_a.dll", 0), ("plain_b.dll", -100), "time"),
    ("japanese_table.dll", ("v1_0_0_9.dll", 100), ("japanese.dll", -100), "copied"),
    ("german_table.dll", ("v1_0_0_0.dll", -100), ("german.dll", 100), "version"),
    ("created.dll", None, ("v1_0_0_10.dll", -100), "copied"),
    ("created_unversioned.dll", None, ("plain_b.dll", -100), "copied"),
    ("no_package.dll", ("v1_0_0_9.dll", 0), None, "version"),
    ("no_package_unversioned.dll", ("plain_a.dll", 0), None, "time"),
    # Compressed package files are judged and installed as they expand, with their own time.
    ("compressed.dll", ("v1_0_0_9.dll", 100), ("v1_0_0_10.dll_", -100), "copied"),
    ("compressed_same_newer.dll", ("same_a.dll", 0), ("same_b.dll_", 100), "copied"),
    ("compressed_same_older.dll", ("same_a.dll", 0), ("same_b.dll_", -100), "time"),
]]

FORCED = [Case(*c) for c in [
    ("forced_older.dll", ("v1_0_0_10.dll", 100), ("v1_0_0_9.dll", -100), "copied"),
    ("forced_same_time.dll", ("same_a.dll", 0), ("same_b.dll_", 0), "copied"),
    ("forced_8000.dll", ("v1_0_0_0.dll", 0), ("v8000_0_0_0.dll_", 0), "copied"),
    ("forced_no_package.dll", ("v1_0_0_9.dll", 0), None, "nosource"),
    # A compressed file cut short, its header promising more than its data gives: Wine's
    # LZCopy stops at the end of the data without an error, yet the installed file must
    # stay whole and the failure be logged.
    ("cut_short.dll", ("v1_0_0_9.dll", 0), ("cut.dll_", 100), "lzfail"),
]]


@scenario(args="/L", **package(GATE))
def patch_gate_replaces_only_newer_package_files(r):
    r.expect_mode("L")
    expect_cases(r, GATE)


@scenario(args="/L /FOW", **package(FORCED))
def patch_forced_copies_whatever_the_versions(r):
    r.expect_mode("L")
    expect_cases(r, FORCED)

