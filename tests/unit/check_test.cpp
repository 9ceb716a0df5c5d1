// tolvanix-check: each trap a package can hold.
#include "testing.h"

#include <vector>

// Runs tolvanix-check on a command line: its exit code and what it wrote.
static std::pair<int, std::string> Checked(const std::string &args) {
  std::string out = NewFolder() + "\\out.txt";
  Check.output = CreateFileA(out.c_str(), GENERIC_WRITE, 1, nullptr, CREATE_ALWAYS, 0, nullptr);
  int code = RunCheck(args.c_str());
  CloseHandle(Check.output);
  return {code, ReadFileBytes(out)};
}

TEST(Check, EachTrapInACleanPackageGivesExactlyOneFindingOfItsLevel) {
  const std::string name240 = "1=" + std::string(240, 'n');
  // A line added to [PRINTPROC] 0=v1_0_0_10.dll (null: no tolvanix.ini), the finding's level and
  // words, and the companion library.
  // clang-format off
  const struct { const char *line, *level, *words, *companion = "standin.dll"; } traps[] = {
      {"[KVSPLPROC]\r\nSRC=\r\n0=kv.exe", "error", "names the package folder itself"},
      {nullptr, "error", "missing: the patcher reads"}, {name240.c_str(), "error", "does not fit"},
      {"1=payload.txt", "warning", "not a Windows program"}, {"1=cut.dll_", "error", "cut short"},
      {"1=german.dll", "warning", "string table 040704b0"}, {"2=x.dll", "warning", "after the gap"},
      {"50=x.dll", "warning", "past the last key"}, {"1=commas.dll", "warning", "reads as 0.0.0.3"},
      {"01=x.dll", "warning", "leading zero"}, {"1=v8000_0_0_0.dll", "warning", "8000 or more"},
      {"1=absent.dll", "error", "missing from modules\\\\NT"}, {"1=*.dll", "error", "not a plain"},
      {"1=binary_differs.dll", "warning", "disagrees"}, {"1=..\\x.dll", "error", "not a plain"},
      {"1=LPT1.dll", "error", "not a plain"}, {"1=kwaj.dll_", "error", "as KWAJ"},
      {"1=sz.dll_", "error", "as the older SZ form"},
      {"", "error", "lacks UninstService", "inst_only.dll"},
      {"1=v1_0_0_10.dll ;new", "warning", "exactly this name"},
      {"[tolvanix]\r\nManufacturer=Kestova\t; box", "warning", "Kestova\\u0009; box PrintProc"},
      {"!", "warning", "no list names a file"}}; // "!": a tolvanix.ini without lists
  // clang-format on
  for (const auto &t : traps) {
    std::string dir = NewFolder() + "\\";
    MakePackageFolders(dir);
    // The trap's payload for NT 4.0 (none for absent.dll; a name with a comment is the file
    // before the blank), a good one for 2000 and later and for 64-bit Windows.
    for (std::string file :
         {"v1_0_0_10.dll", "german.dll", "v8000_0_0_0.dll", "commas.dll", "binary_differs.dll",
          "payload.txt", "cut.dll_", "absent.dll", "v1_0_0_10.dll ;new", "kwaj.dll_", "sz.dll_"}) {
      CopyFileA((g_testfiles + file.substr(0, file.find(' '))).c_str(),
                (dir + "modules\\NT\\" + file).c_str(), FALSE);
      for (const char *good : {"modules\\2K\\", "modules\\X64\\"})
        CopyFileA((g_testfiles + "v1_0_0_10.dll_").c_str(), (dir + good + file).c_str(), FALSE);
    }
    CopyFileA((g_testfiles + t.companion).c_str(), (dir + kCompanionIn + "kvprc7a.dll").c_str(),
              FALSE);
    if (t.line)
      WriteFileBytes(dir + "tolvanix.ini",
                     *t.line == '!' ? "[tolvanix]\r\n"
                                    : "[PRINTPROC]\r\n0=v1_0_0_10.dll\r\n" + std::string(t.line));
    auto [code, records] = Checked("package \"" + dir + "\" --json");
    size_t at = records.find("\"finding\""); // and no second one
    EXPECT_TRUE(at != std::string::npos && at == records.rfind("\"finding\"") &&
                records.find("\"level\":\"" + std::string(t.level)) != std::string::npos &&
                records.find(t.words) != std::string::npos && code == (*t.level == 'e' ? 2 : 1))
        << t.words << ": exit " << code << "\n"
        << records;
  }
}

// JSON strings carry Unicode code points of the ANSI text and are refused rather than cut; help
// on its four spellings exits 0, bad usage 2, both with the usage line.
TEST(Check, JsonQuotesWholeOrNotAtAllAndTheCommandLineGetsHelpOrUsage) {
  char buf[40];
  EXPECT_EQ(JsonQuote(buf, sizeof buf, "C:\\pkg \"a\"\t\x01\xE9\x80"), 39);
  EXPECT_STREQ(buf, "\"C:\\\\pkg \\\"a\\\"\\u0009\\u0001\\u00e9\\u20ac\"");
  EXPECT_EQ(JsonQuote(buf, 8, "abcdef") + JsonQuote(buf + 8, 9, "abcdef"), -1 + 8);
  EXPECT_STREQ(buf, "");
  for (std::string args : {"--help0", "-h0", "/?0", "help0", "2", "bogus2", "package a b2",
                           "--xml package2", "package /FOW2", "plan /OS=952"}) {
    auto [code, said] = Checked(args.substr(0, args.size() - 1)); // the last digit: the exit code
    EXPECT_TRUE(code == args.back() - '0' && said.find("usage: tolvanix-check") != said.npos &&
                (code || said.find("exit code") != said.npos))
        << args << ": " << said;
  }
}

// Who may write to the package, where Wine cannot show it: the system's answers replaced for
// the length of a case. Each case: what it replaces, the words of each warning, a record field.
static BYTE g_stranger[] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
                            0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xE9, 3, 0, 0}; // S-1-5-21-1-2-3-1001
static BYTE g_administrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
static struct {
  ACE_HEADER header;
  ACCESS_MASK mask;
  BYTE sid[16];
} g_ace;
// Every entry of every permission list is g_ace.
static BOOL WINAPI OnlyTheAce(PACL, DWORD, LPVOID *ace) { return *ace = &g_ace, TRUE; }
static CheckPlatformOps g_real;

TEST(Check, WhoMayWriteToThePackageIsOneWarningPerKindAndAShareIsSaidToBeUnseen) {
  g_real = CheckOs;
  // clang-format off
  const struct { void (*arm)(); std::vector<const char *> warnings; const char *record; } cases[] = {
      // A package as Wine makes it: the running user, an administrator, owns and writes it.
      {[] {}, {}, "\"running user is an administrator\":\"yes\""},
      {[] { CheckOs.GetVolumeInformationA = [](LPCSTR, LPSTR, DWORD, LPDWORD, LPDWORD,
                                               LPDWORD flags, LPSTR name, DWORD) WINAPI {
              return *flags = FS_CASE_IS_PRESERVED, lstrcpyA(name, "FAT32"), TRUE; }; },
       {"lies on FAT32, a file system that keeps no permissions"}, "\"file system\":\"FAT32\""},
      {[] { CheckOs.GetSecurityDescriptorOwner = [](PSECURITY_DESCRIPTOR, PSID *owner, LPBOOL)
              WINAPI { return *owner = g_stranger, TRUE; }; },
       {"its owner S-1-5-21-1-2-3-1001 is not an administrator (the same holds for "},
       "\"owner\":\"S-1-5-21-1-2-3-1001\""},
      // Administrators for deny only: an administrator's program without its rights (UAC).
      {[] { CheckOs.GetTokenInformation = [](HANDLE token, TOKEN_INFORMATION_CLASS what,
                                             LPVOID buf, DWORD cap, PDWORD size) WINAPI {
              if (what != TokenGroups)
                return g_real.GetTokenInformation(token, what, buf, cap, size);
              if ((*size = sizeof(TOKEN_GROUPS)) > cap)
                return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
              *static_cast<TOKEN_GROUPS *>(buf) = {1, {{g_administrators,
                                                        SE_GROUP_USE_FOR_DENY_ONLY}}};
              return TRUE; }; },
       {"(the running user), not by administrators only",
        "(the running user) is not an administrator"},
       "\"running user is an administrator\":\"no\""},
      {[] { CheckOs.GetSecurityDescriptorDacl = [](PSECURITY_DESCRIPTOR, LPBOOL present,
                                                   PACL *acl, LPBOOL) WINAPI {
              return *present = TRUE, *acl = nullptr, TRUE; }; },
       {"may be written by everyone, as it has no list of permissions (a NULL DACL)"},
       "\"share\":\"no\""},
      // Write rights for Everyone (S-1-1-0) only to what is made in a folder later, or denied,
      // count for nothing; appending for Users does.
      {[] { g_ace = {{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, 20},
                     GENERIC_ALL, {1, 1, 0, 0, 0, 0, 0, 1}};
            CheckOs.GetAce = OnlyTheAce; }, {}, "\"share\":\"no\""},
      {[] { g_ace = {{ACCESS_DENIED_ACE_TYPE, 0, 20}, FILE_WRITE_DATA, {1, 1, 0, 0, 0, 0, 0, 1}};
            CheckOs.GetAce = OnlyTheAce; }, {}, "\"share\":\"no\""},
      {[] { g_ace = {{ACCESS_ALLOWED_ACE_TYPE, 0, 24}, FILE_APPEND_DATA,
                     {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0}};
            CheckOs.GetAce = OnlyTheAce; },
       {"may be written by S-1-5-32-545 (Users), not by administrators only (the same holds"},
       "\"share\":\"no\""},
      {[] { CheckOs.GetFileSecurityA = [](LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                          DWORD, LPDWORD) WINAPI {
              return SetLastError(5), FALSE; }; },
       {"its permissions cannot be read (error 5) (the same holds for "}, "\"share\":\"no\""},
      {[] { CheckOs.GetDriveTypeA = [](LPCSTR) WINAPI -> UINT { return DRIVE_REMOTE; }; }, {},
       "\"share\":\"yes\""}};
  // clang-format on
  for (const auto &t : cases) {
    std::string dir = NewFolder() + "\\";
    MakePackageFolders(dir);
    for (const char *tag : {"NT\\", "2K\\", "X64\\"})
      CopyFileA((g_testfiles + "v1_0_0_10.dll").c_str(),
                (dir + "modules\\" + tag + "kv.dll").c_str(), FALSE);
    CopyFileA((g_testfiles + "standin.dll").c_str(), (dir + kCompanionIn + "kvprc7a.dll").c_str(),
              FALSE);
    WriteFileBytes(dir + "tolvanix.ini", "[PRINTPROC]\r\n0=kv.dll\r\n");
    t.arm();
    auto [code, records] = Checked("package \"" + dir + "\" --json");
    CheckOs = g_real;
    size_t findings = 0;
    for (size_t at = 0; (at = records.find("\"finding\"", at)) != records.npos; ++at)
      ++findings;
    bool said = findings == t.warnings.size() && code == (findings ? 1 : 0) &&
                records.find(t.record) != records.npos;
    for (const char *words : t.warnings)
      said = said && records.find(words) != records.npos;
    EXPECT_TRUE(said) << (t.warnings.empty() ? "no warning" : t.warnings[0]) << ", " << t.record
                      << ": exit " << code << "\n"
                      << records;
  }
}
