"""The options /OS=NT, /OS=2000 and /FOW, seen through which package folder a listed
print-processor file is copied from (modules\\NT or modules\\2K), forced with /FOW."""
from bed import scenario

TARGET = "C:\\windows\\system32\\spool\\prtprocs\\w32x86\\tvxpp.dll"
PACKAGE = {
    "C:\\pkg\\modules\\NT\\tvxpp.dll": b"package copy for NT\r\n",
    "C:\\pkg\\modules\\2K\\tvxpp.dll": b"package copy for 2K\r\n",
}
INI = "[tolvanix]\r\n[PRINTPROC]\r\n0=tvxpp.dll\r\n"

for name, windows, args, tag in [
    ("os_nt_then_2000_copies_from_2k", "nt40", "/OS=NT /OS=2000 /FOW", "2K"),
    ("os_2000_then_nt_copies_from_2k", "nt40", "/OS=2000 /OS=NT /FOW", "2K"),
    ("os_nt_on_xp_copies_from_nt", "winxp", "/OS=NT /FOW", "NT"),
    ("wrong_case_os_option_keeps_nt_on_nt40", "nt40", "/os=2000 /FOW", "NT"),
]:

    @scenario(name, windows=windows, args=args, ini=INI, files=PACKAGE)
    def copies_from(r, tag=tag):
        r.expect_mode("P")
        expected = PACKAGE["C:\\pkg\\modules\\%s\\tvxpp.dll" % tag]
        got = r.file(TARGET)
        r.check(got == expected, "%s: expected the %s copy %r, got %r" % (TARGET, tag, expected,
                                                                          got))
