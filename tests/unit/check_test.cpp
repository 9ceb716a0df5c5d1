// tolvanix-check: its output, its findings per trap in a real package folder, and plan and
// verify through the patcher's own gate, with the system directory a temp folder (the seam).
#include <string>
#include <vector>

#include "check/check.h"
#include "platform/text.h"
#include "testing.h"

namespace {

std::string Check(const std::string &name) { return FixturePath("check", name); }

struct Result {
  int code;
  std::vector<std::string> lines;
  std::string all;
  std::vector<std::string> Findings() const {
    std::vector<std::string> found;
    for (const std::string &line : lines)
      if (line.find("\"type\":\"finding\"") != std::string::npos)
        found.push_back(line);
    return found;
  }
  // The first record of a type whose text holds needle.
  std::string Record(const std::string &type, const std::string &needle) const {
    for (const std::string &line : lines)
      if (line.find("{\"type\":\"" + type + "\"") == 0 && line.find(needle) != std::string::npos)
        return line;
    return std::string();
  }
};

// Runs the program's whole command with its records going to a file.
Result RunCaptured(const std::string &args) {
  std::string out = TempPath() + "check-output.txt";
  CheckOutput = CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  Result result;
  result.code = RunCheck(args.c_str());
  CloseHandle(CheckOutput);
  CheckOutput = nullptr;
  ForceOverwrite = 0;
  result.all = ReadFileBytes(out);
  DeleteFileA(out.c_str());
  size_t start = 0;
  for (size_t end; (end = result.all.find("\r\n", start)) != std::string::npos; start = end + 2)
    result.lines.push_back(result.all.substr(start, end - start));
  return result;
}

std::string Copy(const std::string &from, const std::string &to) {
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE))
      << from << " -> " << to << ", error " << GetLastError();
  return to;
}

const char kCleanIni[] = "[tolvanix]\r\nManufacturer=Kestova\r\n"
                         "[PRINTPROC]\r\n0=print.dll\r\n"
                         "[KVSPLPROC]\r\nSRC=helper.dll\r\n0=kvhelper.dll\r\n"
                         "[SrcFiles]\r\n0=system.dll\r\n";

// A sample package: every payload in both folders, plain for NT and compressed for 2K, the
// companion library with both exports.
class Package : public testing::Test {
protected:
  Package() {
    MakeFolder(folder_ / "modules");
    MakeFolder(folder_ / "modules\\NT");
    MakeFolder(folder_ / "modules\\2K");
    WriteFileBytes(folder_ / "tolvanix.ini", kCleanIni);
    for (const char *name : {"print.dll", "helper.dll", "system.dll"}) {
      Copy(Check("clean.dll"), folder_ / (std::string("modules\\NT\\") + name));
      Copy(Check("clean.dll_"), folder_ / (std::string("modules\\2K\\") + name));
    }
    Copy(FixturePath("companion", "companion_both.dll"), folder_ / "kvprc7a.dll");
  }
  Result Run(const std::string &command) {
    return RunCaptured(command + " \"" + folder_.path() + "\" --json");
  }
  TempFolder folder_;
};

TEST_F(Package, CleanPackageHasNoFindings) {
  Result r = Run("package");
  EXPECT_EQ(r.code, 0) << r.all;
  EXPECT_TRUE(r.Findings().empty()) << r.all;
  std::string payload = r.Record("payload", "modules\\\\2K\\\\print.dll");
  EXPECT_NE(payload.find("\"compressed\":\"yes\",\"size\":"), std::string::npos) << r.all;
  EXPECT_NE(payload.find("\"version\":\"1.0.0.10\",\"number\":\"0x0001000000000010\""),
            std::string::npos)
      << payload;
  EXPECT_NE(r.Record("summary", "").find("\"errors\":0,\"warnings\":0,\"exit\":0"),
            std::string::npos)
      << r.all;
}

struct Trap {
  const char *what;
  const char *ini;       // replaces tolvanix.ini when set
  const char *payload;   // fixture placed at modules\2K\system.dll when set
  const char *companion; // companion fixture in place of companion_both when set
  const char *removed;   // a package file removed
  const char *level;     // of the one finding
  const char *message;   // part of its message
};

#define INI(extra) "[tolvanix]\r\n[PRINTPROC]\r\n0=print.dll\r\n" extra

const Trap kTraps[] = {
    {"gap", INI("2=system.dll\r\n"), nullptr, nullptr, nullptr, "warning",
     "after the gap at key 1"},
    {"past the limit", INI("1=system.dll\r\n50=system.dll\r\n"), nullptr, nullptr, nullptr,
     "warning", "past the last key the patcher reads (49)"},
    {"leading zero", INI("01=system.dll\r\n"), nullptr, nullptr, nullptr, "warning",
     "leading zero"},
    {"wildcard", INI("1=sys*.dll\r\n"), nullptr, nullptr, nullptr, "error", "wildcard"},
    {"separator", INI("1=..\\system.dll\r\n"), nullptr, nullptr, nullptr, "error",
     "not a bare file name"},
    {"empty SRC", "[KVSPLPROC]\r\nSRC=\r\n0=kvhelper.dll\r\n", nullptr, nullptr, nullptr, "error",
     "replaced from the package folder itself"},
    {"other language", nullptr, "german.dll", nullptr, nullptr, "warning", "string table 040704b0"},
    {"8000", nullptr, "v8000.dll", nullptr, nullptr, "warning", "8000 or more"},
    {"commas", nullptr, "commas.dll", nullptr, nullptr, "warning",
     "\\\"1, 0, 0, 3\\\" reads as 0.0.0.3"},
    {"binary differs", nullptr, "binary_differs.dll", nullptr, nullptr, "warning",
     "binary version 1.0.0.9 disagrees"},
    {"truncated", nullptr, "truncated.dll", nullptr, nullptr, "error",
     "truncated or damaged: it does not expand to"},
    {"not a program", INI("1=notes.txt\r\n"), nullptr, nullptr, nullptr, "warning",
     "not a Windows program"},
    {"missing on NT only", nullptr, nullptr, nullptr, "modules\\NT\\system.dll", "error",
     "missing from modules\\\\NT"},
    {"companion without UninstService", nullptr, nullptr, "companion_inst_only.dll", nullptr,
     "error", "lacks UninstService"},
    {"no ini", nullptr, nullptr, nullptr, "tolvanix.ini", "error", "missing: the patcher reads"},
};

class PackageTrap : public Package, public testing::WithParamInterface<Trap> {};

TEST_P(PackageTrap, GivesExactlyOneFinding) {
  const Trap &t = GetParam();
  if (t.ini)
    WriteFileBytes(folder_ / "tolvanix.ini", t.ini);
  if (t.payload)
    Copy(Check(t.payload), folder_ / "modules\\2K\\system.dll");
  if (t.companion)
    Copy(FixturePath("companion", t.companion), folder_ / "kvprc7a.dll");
  if (t.removed)
    DeleteFileA((folder_ / t.removed).c_str());
  WriteFileBytes(folder_ / "modules\\NT\\notes.txt", "plain text");
  WriteFileBytes(folder_ / "modules\\2K\\notes.txt", "plain text");
  if (std::string(t.what) == "not a program")
    Copy(Check("clean.dll"), folder_ / "modules\\NT\\notes.txt");

  Result r = Run("package");
  std::vector<std::string> findings = r.Findings();
  ASSERT_EQ(findings.size(), 1u) << t.what << ":\n" << r.all;
  EXPECT_NE(findings[0].find(std::string("\"level\":\"") + t.level + "\""), std::string::npos)
      << findings[0];
  EXPECT_NE(findings[0].find(t.message), std::string::npos) << findings[0];
  EXPECT_EQ(r.code, std::string(t.level) == "error" ? 2 : 1) << r.all;
}

INSTANTIATE_TEST_SUITE_P(Traps, PackageTrap, testing::ValuesIn(kTraps));

TEST(CheckOutput, JsonQuoteEscapesAndRefusesRatherThanCuts) {
  char buf[64];
  const char *expected = "\"C:\\\\pkg \\\"a\\\"\\u0009\\u0001\\u00e9\"";
  EXPECT_EQ(JsonQuote(buf, sizeof buf, "C:\\pkg \"a\"\t\x01\xE9"), lstrlenA(expected)) << buf;
  EXPECT_STREQ(buf, expected);
  // "abcdef" quoted takes 8 characters and a terminator.
  EXPECT_EQ(JsonQuote(buf, 8, "abcdef"), -1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(JsonQuote(buf, 9, "abcdef"), 8);
  EXPECT_STREQ(buf, "\"abcdef\"");
}

TEST(CheckCommand, BadUsageExitsWithTwoAndTheUsageLine) {
  for (const char *args :
       {"", "bogus", "package a b", "--xml package", "package /FOW", "plan /OS=95"}) {
    Result r = RunCaptured(args);
    EXPECT_EQ(r.code, 2) << "args \"" << args << "\": " << r.all;
    EXPECT_EQ(r.all.find("usage: tolvanix-check package|plan|verify [FOLDER]"), 0u)
        << "args \"" << args << "\": " << r.all;
  }
  Result missing = RunCaptured("package C:\\no\\such\\folder --json");
  EXPECT_EQ(missing.code, 2) << missing.all;
  EXPECT_NE(missing.all.find("the package folder does not exist"), std::string::npos);
}

// plan and verify with the system directory in a temp folder: one SrcFiles entry per state.
std::string g_system;
UINT WINAPI FakeSystemDirectory(LPSTR buffer, UINT size) {
  if (g_system.size() >= size)
    return static_cast<UINT>(g_system.size() + 1);
  lstrcpyA(buffer, g_system.c_str());
  return static_cast<UINT>(g_system.size());
}

void SetWriteTime(const std::string &path, long long time) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME t = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  SetFileTime(file, nullptr, nullptr, &t);
  CloseHandle(file);
}

class Plan : public Package {
protected:
  Plan() : system_(Os.GetSystemDirectoryA, FakeSystemDirectory) {
    g_system = systemFolder_.path();
    MakeFolder(systemFolder_ / "spool");
    MakeFolder(systemFolder_ / "spool\\prtprocs");
    MakeFolder(systemFolder_ / "spool\\prtprocs\\w32x86");
    WriteFileBytes(folder_ / "tolvanix.ini",
                   "[SrcFiles]\r\n0=older.dll\r\n1=newer.dll\r\n2=sametime_old.dll\r\n"
                   "3=sametime_new.dll\r\n4=absent.dll\r\n5=readonly.dll\r\n6=held.dll\r\n");
    for (const char *name : {"older.dll", "newer.dll", "sametime_old.dll", "sametime_new.dll",
                             "absent.dll", "readonly.dll", "held.dll"})
      Copy(Check("clean.dll"), folder_ / (std::string("modules\\2K\\") + name));
    Copy(Check("clean_old.dll"), Sys("older.dll"));
    // newer.dll: the installed file has the higher version.
    Copy(Check("clean.dll"), Sys("newer.dll"));
    Copy(Check("clean_old.dll"), folder_ / "modules\\2K\\newer.dll");
    long long packageTime = 0;
    {
      WIN32_FILE_ATTRIBUTE_DATA data;
      GetFileAttributesExA(Check("clean.dll").c_str(), GetFileExInfoStandard, &data);
      packageTime = (static_cast<long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                    data.ftLastWriteTime.dwLowDateTime;
    }
    for (const char *name : {"sametime_old.dll", "sametime_new.dll", "readonly.dll", "held.dll"})
      Copy(Check("clean.dll"), Sys(name));
    SetWriteTime(Sys("sametime_old.dll"), packageTime - 10000000LL * 3600);
    SetWriteTime(Sys("sametime_new.dll"), packageTime + 10000000LL * 3600);
    SetFileAttributesA(Sys("readonly.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  }
  std::string Sys(const std::string &name) { return systemFolder_ / name; }
  TempFolder systemFolder_;
  ScopedOverride<decltype(PlatformOps::GetSystemDirectoryA)> system_;
};

std::string Decision(const Result &r, const std::string &name) {
  std::string record = r.Record("file", "\\\\" + name + "\"");
  size_t at = record.find("\"decision\":\"");
  return at == std::string::npos ? "(no decision) " + record
                                 : record.substr(at + 12, record.find('"', at + 12) - at - 12);
}

TEST_F(Plan, PredictsEachDecisionAndChangesNothing) {
  HANDLE held =
      CreateFileA(Sys("held.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
  std::vector<std::string> tempBefore = ListFiles(TempPath(), "*");
  std::vector<std::string> systemBefore = ListFiles(systemFolder_.path(), "*");

  Result r = Run("plan");
  CloseHandle(held);
  EXPECT_EQ(Decision(r, "older.dll"), "replace now") << r.all;
  EXPECT_EQ(Decision(r, "newer.dll"), "refuse") << r.all;
  EXPECT_NE(r.Record("file", "newer.dll").find("\"log\":\"version of "), std::string::npos);
  EXPECT_EQ(Decision(r, "sametime_old.dll"), "replace now") << r.all;
  EXPECT_EQ(Decision(r, "sametime_new.dll"), "refuse") << r.all;
  EXPECT_NE(r.Record("file", "sametime_new.dll").find("is older than"), std::string::npos);
  EXPECT_EQ(Decision(r, "readonly.dll"), "replace at the restart") << r.all;
  EXPECT_EQ(Decision(r, "held.dll"), "replace at the restart") << r.all;
  EXPECT_NE(r.Record("file", "held.dll").find("\"held open\":\"yes\""), std::string::npos) << r.all;
  EXPECT_NE(r.Record("file", "\\\\absent.dll\"").find("\"decision\":\"skip as absent\""),
            std::string::npos)
      << r.all;
  EXPECT_EQ(r.code, 0) << r.all;

  EXPECT_EQ(ListFiles(TempPath(), "*"), tempBefore);
  EXPECT_EQ(ListFiles(systemFolder_.path(), "*"), systemBefore);
  EXPECT_EQ(ReadFileBytes(Sys("older.dll")), ReadFileBytes(Check("clean_old.dll")));
  EXPECT_EQ(GetFileAttributesA(Sys("readonly.dll").c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST_F(Plan, PlanMatchesWhatTheGateThenDoesAndVerifyAgrees) {
  Result plan = Run("plan");
  Result before = Run("verify");
  EXPECT_NE(before.Record("finding", "older.dll").find("nothing is pending"), std::string::npos)
      << before.all;
  EXPECT_EQ(before.code, 2) << before.all;

  for (const char *name : {"older.dll", "sametime_old.dll", "sametime_new.dll", "newer.dll"}) {
    int copied =
        CopySplFile((folder_ / (std::string("modules\\2K\\") + name)).c_str(), Sys(name).c_str());
    EXPECT_EQ(copied, Decision(plan, name) == "replace now" ? 1 : 0) << name << "\n" << plan.all;
  }
  Result after = Run("verify");
  EXPECT_NE(after.Record("file", "\\\\older.dll\"").find("\"state\":\"replaced\""),
            std::string::npos)
      << after.all;
  EXPECT_NE(after.Record("file", "\\\\newer.dll\"").find("installed version is greater"),
            std::string::npos)
      << after.all;
  EXPECT_TRUE(after.Findings().empty()) << after.all;
  EXPECT_EQ(after.code, 0) << after.all;
}

} // namespace
