// The version gate: version strings, version resources, write times and the decisions of
// CopySplFile on real payloads under Wine.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"
#include "replace/replace.h"
#include "testing.h"

namespace {

std::string Fixture(const std::string &name) { return FixturePath("replace", name); }

struct VersionCase {
  const char *text;
  unsigned long long number;
};

class ParseVersionStringTable : public testing::TestWithParam<VersionCase> {};

TEST_P(ParseVersionStringTable, GivesTheFileVersionNumber) {
  const VersionCase &c = GetParam();
  unsigned long long got = static_cast<unsigned long long>(ParseVersionString(c.text));
  EXPECT_EQ(got, c.number) << "\"" << c.text << "\" gave 0x" << std::hex << got;
}

INSTANTIATE_TEST_SUITE_P(Strings, ParseVersionStringTable,
                         testing::Values(VersionCase{"1.0.1.1", 0x0001000000010001ull},
                                         VersionCase{"1.011", 0x0000000000010011ull},
                                         VersionCase{"2.0.0.12a", 0x0002000000000012ull},
                                         VersionCase{"", 0},
                                         VersionCase{"1, 0, 0, 3", 0x0000000000000003ull},
                                         VersionCase{"1.2.3.4.5", 0x0002000300040005ull},
                                         VersionCase{"1.0.0.65536", 0x0001000000065536ull},
                                         VersionCase{"1.0.6.5536", 0x0001000000065536ull},
                                         VersionCase{"8000.0.0.0", 0x8000000000000000ull},
                                         VersionCase{"1.2.3.4zz", 0x0002000300040000ull},
                                         VersionCase{"1.0.0.3 (b7)", 0x0000000000070000ull},
                                         VersionCase{"123456789", 0x0000000023456789ull},
                                         VersionCase{"12345678", 0x0000000012345678ull},
                                         VersionCase{"99999999.0.0.0", 0x9999000000000000ull},
                                         VersionCase{"1..2", 0x0000000100000002ull},
                                         VersionCase{"1.2\xB7"
                                                     "3",
                                                     0x0000000100020003ull},
                                         VersionCase{"Z", 0},
                                         VersionCase{"1.0.0.0", 0x0001000000000000ull},
                                         VersionCase{"9.9.9.9", 0x0009000900090009ull}));

TEST(ParseVersionString, ComparesAsSignedNumbers) {
  // Equal pairs: one trailing letter is dropped; five digits add into the field above.
  EXPECT_EQ(ParseVersionString("2.0.0.12a"), ParseVersionString("2.0.0.12b"));
  EXPECT_EQ(ParseVersionString("1.0.0.65536"), ParseVersionString("1.0.6.5536"));
  EXPECT_GT(ParseVersionString("1.0.0.10"), ParseVersionString("1.0.0.9"));
  EXPECT_GT(ParseVersionString("1.0.0.0"), ParseVersionString("8000.0.0.0"));
  EXPECT_GT(ParseVersionString("1.0.0.0"), ParseVersionString("9999.0.0.0"));
  EXPECT_GT(ParseVersionString("7999.0.0.0"), ParseVersionString("1.0.0.0"));
  EXPECT_LT(ParseVersionString("8000.0.0.0"), 0);
}

struct ResourceCase {
  const char *file;
  const char *version;
};

class GetFileVersionStringTable : public testing::TestWithParam<ResourceCase> {};

TEST_P(GetFileVersionStringTable, ReadsTheUsOrJapaneseTableOnly) {
  const ResourceCase &c = GetParam();
  // A buffer with room behind its capacity, to catch a write past it.
  char buffer[MAX_PATH + 64];
  FillBytes(buffer, sizeof buffer, 0xA5);
  char *returned = GetFileVersionString(Fixture(c.file).c_str(), buffer, MAX_PATH);
  EXPECT_EQ(returned, buffer);
  EXPECT_STREQ(buffer, c.version) << c.file;
  for (size_t i = MAX_PATH; i < sizeof buffer; ++i)
    ASSERT_EQ(static_cast<unsigned char>(buffer[i]), 0xA5) << c.file << ": written at " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, GetFileVersionStringTable,
    testing::Values(ResourceCase{"v1_0_0_10.dll", "1.0.0.10"},
                    ResourceCase{"v2_0_0_12a.dll", "2.0.0.12a"},
                    ResourceCase{"japanese.dll", "2.0.0.1"}, ResourceCase{"german.dll", ""},
                    ResourceCase{"long.dll", ""}, ResourceCase{"payload.txt", ""},
                    ResourceCase{"v1_0_0_10.dll_", ""}, ResourceCase{"missing.dll", ""}));

const long long kBaseTime = 0x01D0000000000000ll; // a date in 2014
const long long kSecond = 10000000;

void SetWriteTime(const std::string &path, long long time) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(time);
  written.dwHighDateTime = static_cast<DWORD>(time >> 32);
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written)) << GetLastError();
  CloseHandle(file);
}

TEST(GetLastWriteTime, ReadsTheTimeOfAFileItCanHaveExclusively) {
  TempFolder folder;
  std::string path = folder / "file.dll";
  WriteFileBytes(path, "x");
  SetWriteTime(path, kBaseTime + 5);
  EXPECT_EQ(GetLastWriteTime(path.c_str()), kBaseTime + 5);
  EXPECT_EQ(GetLastWriteTime((folder / "missing.dll").c_str()), 0);

  HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(GetLastWriteTime(path.c_str()), 0) << "file held open by a reader";
  CloseHandle(reader);

  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    GTEST_SKIP() << "read-only files are writable here (Wine run as root): run via tests/wine-run";
  }
  EXPECT_EQ(GetLastWriteTime(path.c_str()), 0) << "read-only file";
}

// The restart registrations are recorded, not made, so a test never leaves work for wineboot.
int g_registrations;
decltype(PlatformOps::MoveFileExA) g_realMoveFileEx;
BOOL WINAPI CountRegistration(LPCSTR from, LPCSTR to, DWORD flags) {
  if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT))
    return g_realMoveFileEx(from, to, flags);
  ++g_registrations;
  return TRUE;
}

enum Line { kNoLine, kVersionLine, kOlderLine, kCopyLine };

struct GateCase {
  const char *title;
  const char *package;   // fixture, or nullptr for a missing package
  const char *installed; // fixture, or nullptr for no installed file
  long long packageAge;  // package time minus installed time, in seconds
  int force;
  int result;
  Line line;
};

std::ostream &operator<<(std::ostream &out, const GateCase &c) { return out << c.title; }

class CopySplFileGate : public testing::TestWithParam<GateCase> {
protected:
  void TearDown() override { ForceOverwrite = 0; }
};

TEST_P(CopySplFileGate, DecidesByVersionThenTime) {
  const GateCase &c = GetParam();
  TempFolder folder;
  std::string source = folder / "package.dll";
  std::string target = folder / "installed.dll";
  if (c.package) {
    ASSERT_TRUE(CopyFileA(Fixture(c.package).c_str(), source.c_str(), FALSE)) << GetLastError();
    SetWriteTime(source, kBaseTime + c.packageAge * kSecond);
  }
  if (c.installed) {
    ASSERT_TRUE(CopyFileA(Fixture(c.installed).c_str(), target.c_str(), FALSE)) << GetLastError();
    SetWriteTime(target, kBaseTime);
  }
  std::string before = ReadFileBytes(target);
  std::string temp = TempPath();
  temp.pop_back();
  CapturedErrorLog log;
  std::vector<std::string> scratchBefore = ListFiles(temp, "*.tmp");
  scratchBefore.push_back(log.name().substr(temp.size() + 1)); // once something is logged
  std::sort(scratchBefore.begin(), scratchBefore.end());
  ForceOverwrite = c.force;

  int result = CopySplFile(source.c_str(), target.c_str());

  EXPECT_EQ(result, c.result);
  std::string expectedLine;
  if (c.line == kVersionLine)
    expectedLine = "version of " + target + " is greater than " + source + " \r\n";
  else if (c.line == kOlderLine)
    expectedLine = source + " is older than " + target + " \r\n";
  else if (c.line == kCopyLine)
    expectedLine = "CopyLZFile " + target + " at CopySplFile FALSE \r\n";
  EXPECT_EQ(log.Text(), expectedLine);
  if (c.result == 1) {
    std::string expanded = c.package;
    if (expanded.back() == '_')
      expanded.pop_back();
    EXPECT_EQ(ReadFileBytes(target), ReadFileBytes(Fixture(expanded))) << "target not replaced";
  } else {
    EXPECT_EQ(ReadFileBytes(target), before) << "target changed on a refusal";
    EXPECT_EQ(FileExists(target), c.installed != nullptr);
  }
  std::vector<std::string> scratchAfter = ListFiles(temp, "*.tmp");
  if (expectedLine.empty())
    scratchAfter.push_back(log.name().substr(temp.size() + 1));
  std::sort(scratchAfter.begin(), scratchAfter.end());
  EXPECT_EQ(scratchAfter, scratchBefore) << "scratch expansions left in the temp folder";
  EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CopySplFileGate,
    testing::Values(
        GateCase{"NewerVersionWinsWhateverTheTime", "v1_0_0_10.dll", "v1_0_0_9.dll", -100, 0, 1,
                 kNoLine},
        GateCase{"CompressedNewerVersionIsExpanded", "v1_0_0_10.dll_", "v1_0_0_9.dll", -100, 0, 1,
                 kNoLine},
        GateCase{"OlderVersionIsRefused", "v1_0_0_9.dll", "v1_0_0_10.dll", 100, 0, 0, kVersionLine},
        GateCase{"NegativeVersionIsOlder", "v8000.dll", "v1_0_0_0.dll", 100, 0, 0, kVersionLine},
        GateCase{"EqualVersionsNewerTimeWins", "v1_0_0_65536.dll", "v1_0_6_5536.dll", 1, 0, 1,
                 kNoLine},
        GateCase{"EqualVersionsOlderTimeIsRefused", "v1_0_0_65536.dll", "v1_0_6_5536.dll", -1, 0, 0,
                 kOlderLine},
        GateCase{"EqualVersionsEqualTimesAreRefused", "v2_0_0_12b.dll", "v2_0_0_12a.dll", 0, 0, 0,
                 kOlderLine},
        GateCase{"TrailingLetterIgnoredNewerTimeWins", "v2_0_0_12b.dll", "v2_0_0_12a.dll", 1, 0, 1,
                 kNoLine},
        GateCase{"NoVersionsNewerTimeWins", "payload.txt", "empty.txt", 1, 0, 1, kNoLine},
        GateCase{"NoVersionsOlderTimeIsRefused", "payload.txt", "empty.txt", -1, 0, 0, kOlderLine},
        GateCase{"UnreadLanguageCountsAsNoVersion", "payload.txt", "german.dll", 1, 0, 1, kNoLine},
        GateCase{"JapaneseTableIsRead", "v1_0_0_9.dll", "japanese.dll", 100, 0, 0, kVersionLine},
        GateCase{"ForceCopiesAnOlderVersion", "v1_0_0_9.dll", "v1_0_0_10.dll", -100, 1, 1, kNoLine},
        GateCase{"ForceWithMissingPackageLogsTheCopy", nullptr, "v1_0_0_10.dll", 0, 1, 0,
                 kCopyLine},
        GateCase{"MissingTargetIsCreated", "v1_0_0_9.dll", nullptr, 0, 0, 1, kNoLine},
        GateCase{"MissingTargetTakesAPackageWithoutVersion", "payload.txt", nullptr, 0, 0, 1,
                 kNoLine},
        GateCase{"MissingPackageAgainstAVersion", nullptr, "v1_0_0_9.dll", 0, 0, 0, kVersionLine},
        GateCase{"MissingPackageAgainstNoVersion", nullptr, "payload.txt", 0, 0, 0, kOlderLine}),
    [](const testing::TestParamInfo<GateCase> &info) { return std::string(info.param.title); });

// An installed file with an equal version that is held open or read-only reads as time 0:
// the package wins, the replacement waits for the restart, and the file is writable after.
TEST(CopySplFile, EqualVersionHeldOpenOrReadOnlyIsReplacedAtTheRestart) {
  for (int readOnly = 0; readOnly < 2; ++readOnly) {
    TempFolder folder;
    CapturedErrorLog log;
    g_registrations = 0;
    g_realMoveFileEx = Os.MoveFileExA;
    ScopedOverride<decltype(PlatformOps::MoveFileExA)> recorded(Os.MoveFileExA, CountRegistration);
    std::string source = folder / "package.dll";
    std::string target = folder / "installed.dll";
    ASSERT_TRUE(CopyFileA(Fixture("v1_0_0_10.dll_").c_str(), source.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Fixture("v1_0_0_10.dll").c_str(), target.c_str(), FALSE));
    SetWriteTime(source, kBaseTime - 100 * kSecond);
    SetWriteTime(target, kBaseTime);
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (readOnly) {
      SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
      HANDLE probe = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
      if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "read-only files are writable here (Wine run as root)";
      }
    } else {
      lock = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(lock, INVALID_HANDLE_VALUE) << GetLastError();
    }

    int result = CopySplFile(source.c_str(), target.c_str());
    if (lock != INVALID_HANDLE_VALUE)
      CloseHandle(lock);

    EXPECT_EQ(result, 1) << "read-only " << readOnly << "; log: " << log.Text();
    EXPECT_EQ(g_registrations, 2) << "read-only " << readOnly;
    EXPECT_EQ(ListFiles(folder.path(), "kv*.tmp").size(), 1u);
    DWORD attributes = GetFileAttributesA(target.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u) << "still read-only";
    EXPECT_EQ(log.Text(), "");
  }
}

} // namespace
