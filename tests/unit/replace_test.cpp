// The gate's reading of a FileVersion, and the compressed copy where only the seam breaks it.
#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

#include "testing.h"

TEST(Gate, VersionTextsReadAsTheGateReadsThem) {
  // clang-format off
  const struct { const char *text; unsigned long long number; } rows[] = {
      {"1.0.1.1", 0x0001000000010001}, {"1.011", 0x10011}, {"2.0.0.12a", 0x0002000000000012},
      {"", 0}, {"1, 0, 0, 3", 3}, {"1.2.3.4.5", 0x0002000300040005}, {"1..2", 0x100000002},
      {"1.0.0.65536", 0x0001000000065536}, {"1.0.6.5536", 0x0001000000065536},
      {"8000.0.0.0", 0x8000000000000000}, {"1.2.3.4zz", 0x0002000300040000},
      {"1.0.0.3 (b7)", 0x70000}, {"123456789", 0x23456789}, {"99999999.0.0.0", 0x9999000000000000},
      {"1.2\2673", 0x100020003}};
  // clang-format on
  for (const auto &r : rows)
    EXPECT_EQ(static_cast<unsigned long long>(ParseVersionString(r.text)), r.number) << r.text;
  EXPECT_LT(ParseVersionString("8000.0.0.0"), ParseVersionString("1.0.0.0"));
}

static std::string g_dir, g_registered;
static char g_failure; // 'H' the expansion breaks off half-way, 'R' the rename is refused,
                       // '1' or '2' that restart registration is refused

// Records restart registrations, naming a path in the test's folder by its first two letters.
static BOOL WINAPI FakeMove(LPCSTR from, LPCSTR to, DWORD flags) {
  if (flags != MOVEFILE_DELAY_UNTIL_REBOOT)
    return g_failure != 'R' && MoveFileExA(from, to, flags);
  auto name = [](std::string p) { return p.rfind(g_dir, 0) ? p : p.substr(g_dir.size() + 1, 2); };
  g_registered += name(from) + ">" + name(to ? to : "-") + " ";
  return g_failure != '0' + std::count(g_registered.begin(), g_registered.end(), ' ');
}

// The installed payload and how it is held (r: reading shared, as a loaded library; x: no
// sharing), the package (a testfile, "" a folder) and how it is held, /FOW, the failure made;
// seen: the lines (L LZCopy, M MoveFileEx, C CopyLZFile, U the installed and S the package file
// cannot be read, V the version line, K the kv file left beside the target), the result and the
// outcome's failures, restart operations and files replaced, the restart registrations, an
// expansion left beside the target, the version the target holds, and the run log's line for
// the file (F failed, N replaced now, R at the restart, V kept for its version) after the first
// line and the lines.
TEST(Copy, AFailedCopyOrWhatCannotBeReadOrExpandedKeepsTheInstalledFileAndRegistersNothing) {
  // clang-format off
  const struct { const char *installed; char holdTarget; const char *package; char holdSource;
                 int forced; char failure; const char *lines, *seen; } rows[] = {
      {"v1_0_0_9.dll", 0, "payload.txt_", 0, 1, 'H', "LC", "0200||0|9|F"},
      {"v1_0_0_9.dll", 'x', "payload.txt_", 0, 1, 'H', "LC", "0200||0|9|F"},
      {"v1_0_0_9.dll", 0, "payload.txt_", 0, 1, 'R', "", "1020|ta>- kv>ta |1|9|R"},
      {"v1_0_0_9.dll", 'x', "payload.txt", 0, 1, '1', "MC", "0200|ta>- |0|9|F"},
      {"v1_0_0_9.dll", 'x', "payload.txt", 0, 1, '2', "MKC", "0210|ta>- kv>ta |1|9|F"},
      {"v1_0_0_10.dll", 'x', "v1_0_0_9.dll", 0, 0, 0, "U", "0100||0|10|F"},
      {"v1_0_0_9.dll", 'r', "v1_0_0_10.dll", 0, 0, 0, "", "1020|ta>- kv>ta |1|9|R"},
      {"v1_0_0_9.dll", 0, "v1_0_0_10.dll", 'x', 0, 0, "S", "0100||0|9|F"},
      {"v1_0_0_9.dll", 0, "", 0, 0, 0, "S", "0100||0|9|F"},
      {"v1_0_0_9.dll", 0, "kwaj.dll_", 0, 1, 0, "LC", "0200||0|9|F"},
      {"v1_0_0_9.dll", 0, "sz.dll_", 0, 1, 0, "LC", "0200||0|9|F"},
      {"v1_0_0_9.dll", 0, "szdd_b.dll_", 0, 0, 0, "LV", "0100||0|9|F"},
      {"v1_0_0_9.dll", 0, "v1_0_0_10.dll_", 0, 0, 0, "", "1001||0|10|N"},
      {"v1_0_0_10.dll", 0, "v1_0_0_9.dll", 0, 0, 0, "V", "0000||0|10|V"}};
  const std::map<char, std::string> words = {{'F', "failed"}, {'N', "replaced now"},
      {'R', "replaced at the restart"}, {'V', "kept: the installed version is greater"}};
  // clang-format on
  static auto realCopy = Os.LZCopy;
  SEAM(LZCopy, [](INT in, INT out) WINAPI -> LONG {
    return g_failure != 'H' ? realCopy(in, out) : (_lwrite(out, "partial", 7), LZERROR_WRITE);
  });
  SEAM(MoveFileExA, FakeMove);
  SEAM(GetSystemTime, [](LPSYSTEMTIME t) WINAPI { *t = {2001, 2, 6, 3, 4, 5, 6, 7}; });
  for (const auto &r : rows) {
    Log log;
    g_dir = NewFolder(), g_failure = r.failure, g_registered = "";
    EXPECT_TRUE(OpenRunLog((g_dir + "\\run.log").c_str()));
    std::string target = g_dir + "\\target.dll", source = g_dir + "\\package", lines;
    CopyFileA((g_testfiles + r.installed).c_str(), target.c_str(), FALSE);
    *r.package ? CopyFileA((g_testfiles + r.package).c_str(), source.c_str(), FALSE)
               : CreateDirectoryA(source.c_str(), nullptr);
    auto hold = [](const std::string &path, char how) { // share: 1 is FILE_SHARE_READ
      return CreateFileA(how ? path.c_str() : "", GENERIC_READ, how == 'r', nullptr, OPEN_EXISTING,
                         0, nullptr);
    };
    HANDLE heldTarget = hold(target, r.holdTarget), heldSource = hold(source, r.holdSource);
    RunOutcome o = {};
    int result =
        CopySplFile(source.c_str(), target.c_str(), {kOsTag2K, r.forced, 0, 0, "", nullptr}, &o);
    CloseHandle(heldTarget), CloseHandle(heldSource), KeepRunLog();
    WIN32_FIND_DATAA kv;
    HANDLE kvFound = FindFirstFileA((g_dir + "\\kv*").c_str(), &kv);
    for (char c : std::string(r.lines))
      lines += c == 'K' ? g_dir + "\\" + kv.cFileName + " holds the new copy of " + target + " \r\n"
               : c == 'V' ? "version of " + target + " is greater than " + source + " \r\n"
                          : std::string(c == 'L'   ? "LZCopy "
                                        : c == 'M' ? "MoveFileEx "
                                        : c == 'C' ? "CopyLZFile "
                                                   : "CreateFile ") +
                                (c == 'S' ? source : target) +
                                (c == 'L' || c == 'M' ? " at CopyLZFile" : " at CopySplFile") +
                                " FALSE \r\n";
    char version[MAX_PATH];
    GetFileVersionString(target.c_str(), version, MAX_PATH);
    EXPECT_EQ(log.Text() + std::to_string(result) + std::to_string(o.failures) +
                  std::to_string(o.restartOperations) + std::to_string(o.replaced) + "|" +
                  g_registered + "|" + std::to_string(FindClose(kvFound)) + "|" +
                  (version + std::min(6, lstrlenA(version))),
              lines + std::string(r.seen).substr(0, strlen(r.seen) - 2))
        << r.installed << " " << r.holdTarget << " " << r.package << " " << r.holdSource << " "
        << r.failure;
    EXPECT_EQ(ReadFileBytes(g_dir + "\\run.log"),
              "2001-02-03 04:05:06 UTC Kestova print "
              "processor patch for Kestova printer drivers Version 1.003 \r\n" +
                  lines + target + " " + words.at(r.seen[strlen(r.seen) - 1]) + " \r\n")
        << r.installed << r.package;
  }
}

// Each key is read only after the last one was handled, and no file is read from a folder
// guessed from a cut program name.
static std::string g_walked, g_ini;
TEST(Config, KeysAreReadInTurnAndACutProgramNameReadsNothing) {
  std::string dir = NewFolder();
  WriteFileBytes(g_ini = dir + "\\tolvanix.ini",
                 "[tolvanix]\r\nManufacturer=Acme\r\n[SrcFiles]\r\n0=a\r\n");
  SEAM(GetModuleFileNameA, FakeModuleName);
  g_program = dir + "\\setup.exe";
  ForEachListedName(
      "SrcFiles", 200,
      [](const char *name, void *) {
        std::string key = std::to_string((g_walked += name).size());
        WritePrivateProfileStringA("SrcFiles", key.c_str(), key < "3" ? "b" : "", g_ini.c_str());
      },
      nullptr);
  EXPECT_EQ(g_walked, "abb");
  char buf[300];
  // Cut at 259 characters inside the folder after dir's, the name would make dir the program's.
  g_program = dir + "\\" + std::string(259 - dir.size(), 'x') + "\\setup.exe";
  EXPECT_STREQ(ReadPatchConfigValue("tolvanix", "Manufacturer", "none", buf, 300), "none");
}

// The companion's binding beyond what a run sends it: nothing bound before the load or after the
// unload, other requests back on XP only, no library for an unknown folder or a path too long.
// Where SetDefaultDllDirectories is missing (before Windows 8) kvprc7a.dll's import, on PATH
// only, is not found, so kvprcm01.dll is taken; PATH is put back after the load.
static char g_xp;
TEST(Companion, NothingIsCalledOutsideTheLoadAndOtherRequestsComeBackOnXpOnly) {
  std::string dir = NewFolder(), log = dir + "\\calls.txt", seen, onPath = NewFolder(),
              companion = dir + "\\" + kCompanionIn;
  MakePackageFolders(dir + "\\"), SetEnvironmentVariableA("TOLVANIX_STANDIN_LOG", log.c_str());
  for (auto [from, to] : {std::pair(std::string("needs_dep.dll"), companion + "kvprc7a.dll"),
                          {"standin.dll", companion + "kvprcm01.dll"},
                          {"kvdep.dll", onPath + "\\kvdep.dll"}})
    CopyFileA((g_testfiles + from).c_str(), to.c_str(), FALSE);
  SetEnvironmentVariableA("PATH", onPath.c_str());
  SEAM(SetDefaultDllDirectories, [](DWORD) WINAPI -> BOOL { return FALSE; });
  RestrictLibrarySearch();
  SEAM(GetModuleFileNameA, FakeModuleName);
  SEAM(GetVersionExA, [](LPOSVERSIONINFOA v) WINAPI -> BOOL {
    return v->dwPlatformId = 2, v->dwMajorVersion = 5, v->dwMinorVersion = g_xp, TRUE;
  });
  Log errors;
  auto n = [](int value) { return std::to_string(value); };
  g_program = "", g_xp = 1;
  seen += n(KvSplServiceControl(kStopRequest)); // operands of + come in no fixed order
  seen += n(LoadPrintProcessor()) + "|";
  g_program = dir + "\\t.exe";
  seen += n(LoadPrintProcessor());
  seen += n(KvSplServiceControl(2));
  g_xp = 0, seen += n(KvSplServiceControl(2)) + "|", g_xp = 1;
  UnloadPrintProcessor();
  // Its folder fits, but not with \kvprcm01.dll after it.
  g_program = "C:\\" + std::string(247 - kCompanionIn.size(), 'd') + "\\t.exe";
  seen += n(KvSplServiceControl(kStartRequest));
  seen += n(LoadPrintProcessor());
  UnloadPrintProcessor();
  SetEnvironmentVariableA("TOLVANIX_STANDIN_LOG", nullptr);
  EXPECT_EQ(seen + "|" + errors.Text(), "00|120|00|not XP  KvSplServiceControl FALSE \r\n"
                                        "LoadPrintProcessor FALSE \r\n");
  EXPECT_EQ(ReadFileBytes(log),
            companion + "kvprcm01.dll attach -\r\n" + companion + "kvprcm01.dll detach-free -\r\n");
  char path[MAX_PATH];
  EXPECT_EQ(std::string(path, GetEnvironmentVariableA("PATH", path, MAX_PATH)), onPath);
}

// Names are compared as Windows takes them (case, "\??\", "!", the short names of what is
// there, here through the seam since Wine makes none), and the restart's operations are walked
// in order to the file that stands at the target after them.
TEST(Pending, NamesCompareAsWindowsTakesThemAndTheLastMoveThatCanSucceedStands) {
  std::string dir = NewFolder(), target = dir + "\\Long Folder\\target.dll", upper = target;
  CreateDirectoryA((dir + "\\Long Folder").c_str(), nullptr);
  for (const char *name : {"\\Long Folder\\target.dll", "\\k1", "\\k2"})
    WriteFileBytes(dir + name, name);
  static auto realFind = Os.FindFirstFileA;
  SEAM(FindFirstFileA, [](LPCSTR name, LPWIN32_FIND_DATAA found) WINAPI -> HANDLE {
    std::string n = name;
    for (auto [shortName, longName] :
         {std::pair("LONGFO~1", "Long Folder"), {"TARGET~1.DLL", "target.dll"}})
      if (size_t at = n.find(shortName); at != n.npos)
        n.replace(at, strlen(shortName), longName);
    return realFind(n.c_str(), found);
  });
  // T the target, S its short name, U it in upper case, A an absent target, W a wildcard that
  // matches it, k1 and k2 files that are there, k3 none; each with "\??\" but U; "!": replacing.
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  std::map<std::string, std::string> paths;
  // clang-format off
  for (auto [key, name] : {std::pair("T", "Long Folder\\target.dll"), {"A", "absent.dll"},
                           {"S", "LONGFO~1\\TARGET~1.DLL"}, {"W", "Long Folder\\*.dll"},
                           {"k1", "k1"}, {"k2", "k2"}, {"k3", "k3"}})
    paths[key] = dir + "\\" + name;
  // clang-format on
  auto named = [&](const std::string &n) {
    std::string name = n.substr(n[0] == '!');
    return name.empty() ? name
                        : n.substr(0, n[0] == '!') + (name == "U" ? upper : "\\??\\" + paths[name]);
  };
  // The target, its operations ("from>to", to empty: a deletion), then how many concern the
  // target and the file that stands there after them.
  // clang-format off
  const struct { const char *target, *operations, *seen; } rows[] = {
      {"T", "", "0 T"}, {"T", "T> k1>T", "2 k1"}, {"S", "U> k1>T", "2 k1"},
      {"T", "S> k1>U T> k2>!S", "4 k2"}, {"T", "U>", "1 "}, {"T", "S>k3", "1 "},
      {"T", "k1>T", "1 T"}, {"T", "k1>!U", "1 k1"}, {"T", "T> k3>T", "2 "}, {"T", "W>", "0 T"},
      {"T", "k1>k2 k2>", "0 T"}, {"A", "k1>A", "1 k1"}, {"A", "k1>A k2>A", "2 k1"}};
  // clang-format on
  for (const auto &r : rows) {
    std::string text, op, seen = r.seen;
    for (std::istringstream in(r.operations); in >> op;)
      text += named(op.substr(0, op.find('>'))) + '\0' + named(op.substr(op.find('>') + 1)) + '\0';
    PendingOperations pending = {text.empty() ? nullptr : &text[0], DWORD(text.size())};
    Path standing;
    int count = FindStandingFile(pending, PlainName(named(r.target).c_str()), standing);
    std::string want = seen.substr(0, 2) + PlainName(named(seen.substr(2)).c_str());
    EXPECT_EQ(std::to_string(count) + " " + standing, want) << r.target << ": " << r.operations;
  }
}
