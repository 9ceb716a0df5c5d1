// The compressed copy on real files under Wine: plain and SZDD packages, a locked or
// read-only target, a copy that breaks off half-way, refused restart registrations.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"
#include "replace/replace.h"
#include "testing.h"

namespace {

std::string Fixture(const std::string &name) { return FixturePath("replace", name); }

struct Registration {
  std::string from;
  std::string to; // "(null)" for a deletion
  DWORD flags;
};

// Records the restart registrations instead of making them; any other move is the real one.
std::vector<Registration> g_registrations;
int g_refuseRegistration = -1; // index of the registration to refuse, -1 for none
bool g_refuseRename = false;   // refuse the immediate rename over the target
decltype(PlatformOps::MoveFileExA) g_realMoveFileEx;

BOOL WINAPI RecordingMoveFileEx(LPCSTR from, LPCSTR to, DWORD flags) {
  if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
    if (g_refuseRename) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
    return g_realMoveFileEx(from, to, flags);
  }
  int index = static_cast<int>(g_registrations.size());
  g_registrations.push_back({from, to ? to : "(null)", flags});
  if (index == g_refuseRegistration) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

class RecordedRegistrations {
public:
  explicit RecordedRegistrations(int refuse = -1)
      : real_(Os.MoveFileExA), override_(Os.MoveFileExA, RecordingMoveFileEx) {
    g_realMoveFileEx = real_;
    g_registrations.clear();
    g_refuseRegistration = refuse;
    g_refuseRename = false;
  }
  ~RecordedRegistrations() { g_refuseRename = false; }

private:
  decltype(PlatformOps::MoveFileExA) real_;
  ScopedOverride<decltype(PlatformOps::MoveFileExA)> override_;
};

// Writes a few bytes of output and then fails, as a full disk or a corrupt package does.
LONG WINAPI LZCopyFailingHalfWay(HFILE, HFILE dest) {
  DWORD written = 0;
  WriteFile(LongToHandle(dest), "partial", 7, &written, nullptr);
  return LZERROR_WRITE;
}

std::string Describe(const std::vector<Registration> &list) {
  std::string text;
  for (const Registration &r : list)
    text += "[" + r.from + " -> " + r.to + " flags " + std::to_string(r.flags) + "] ";
  return text.empty() ? "(none)" : text;
}

struct PlainCase {
  const char *package;
  const char *expanded; // the fixture holding the expected bytes
  bool targetExists;
};

class CopyLZFileContent : public testing::TestWithParam<PlainCase> {};

TEST_P(CopyLZFileContent, TargetHoldsTheExpandedPackageAndNothingIsLeftBeside) {
  const PlainCase &c = GetParam();
  TempFolder folder;
  CapturedErrorLog log;
  std::string target = folder / "installed.dll";
  if (c.targetExists)
    WriteFileBytes(target, std::string(40000, 'o'));
  std::string expected = ReadFileBytes(Fixture(c.expanded));

  int result = CopyLZFile(Fixture(c.package).c_str(), target.c_str());

  EXPECT_EQ(result, 1) << c.package << " error " << GetLastError();
  EXPECT_EQ(ReadFileBytes(target), expected)
      << c.package << ": target holds " << ReadFileBytes(target).size() << " bytes";
  EXPECT_TRUE(FileExists(target));
  EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), 0u) << "staged file left behind";
  EXPECT_EQ(log.Text(), "");
}

INSTANTIATE_TEST_SUITE_P(PlainCompressedEmpty, CopyLZFileContent,
                         testing::Values(PlainCase{"payload.txt", "payload.txt", true},
                                         PlainCase{"payload.txt_", "payload.txt", true},
                                         PlainCase{"payload.txt_", "payload.txt", false},
                                         PlainCase{"v1_0_0_10.dll_", "v1_0_0_10.dll", true},
                                         PlainCase{"empty.txt", "empty.txt", true},
                                         PlainCase{"empty.txt", "empty.txt", false}));

// mscompress writes one stray literal after the header of an empty file, so the empty
// compressed package is made here: the bare header with an expanded length of 0.
TEST(CopyLZFile, EmptyCompressedPackageGivesAnEmptyTarget) {
  TempFolder folder;
  std::string package = folder / "empty.dl_";
  WriteFileBytes(package, std::string("SZDD\x88\xf0\x27\x33"
                                      "A\0\0\0\0\0",
                                      14));
  std::string target = folder / "empty.dll";
  WriteFileBytes(target, "old");
  EXPECT_EQ(CopyLZFile(package.c_str(), target.c_str()), 1);
  EXPECT_TRUE(FileExists(target));
  EXPECT_EQ(ReadFileBytes(target), "");
}

TEST(CopyLZFile, MissingPackageGivesZeroAndLeavesTargetAndLogAlone) {
  TempFolder folder;
  CapturedErrorLog log;
  RecordedRegistrations registrations;
  std::string target = folder / "installed.dll";
  WriteFileBytes(target, "old");
  for (int locked = 0; locked < 2; ++locked) {
    HANDLE lock = locked ? CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)
                         : INVALID_HANDLE_VALUE;
    int result = CopyLZFile((folder / "missing.dll").c_str(), target.c_str());
    if (lock != INVALID_HANDLE_VALUE)
      CloseHandle(lock);
    EXPECT_EQ(result, 0) << "locked " << locked;
  }
  EXPECT_EQ(ReadFileBytes(target), "old");
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(g_registrations.size(), 0u) << Describe(g_registrations);
  EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), 0u);
}

TEST(CopyLZFile, CopyBreakingOffHalfWayKeepsTheInstalledFile) {
  TempFolder folder;
  CapturedErrorLog log;
  RecordedRegistrations registrations;
  ScopedOverride<decltype(PlatformOps::LZCopy)> failing(Os.LZCopy, LZCopyFailingHalfWay);
  std::string target = folder / "installed.dll";
  WriteFileBytes(target, "previous content");

  int result = CopyLZFile(Fixture("payload.txt_").c_str(), target.c_str());

  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFileBytes(target), "previous content");
  EXPECT_EQ(log.Text(), "LZCopy " + target + " at CopyLZFile FALSE \r\n");
  EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), 0u) << "failed expansion left behind";
  EXPECT_EQ(g_registrations.size(), 0u) << Describe(g_registrations);
}

TEST(CopyLZFile, TruncatedCompressedPackageKeepsTheInstalledFile) {
  // The platform's expansion stops early on a cut file without an error; only the size the
  // header declares tells it from a whole one.
  TempFolder folder;
  CapturedErrorLog log;
  std::string target = folder / "installed.dll";
  WriteFileBytes(target, "previous content");

  int result = CopyLZFile(FixturePath("check", "truncated.dll").c_str(), target.c_str());

  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFileBytes(target), "previous content");
  EXPECT_EQ(log.Text(), "LZCopy " + target + " at CopyLZFile FALSE \r\n");
  EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), 0u) << "failed expansion left behind";
}

TEST(CopyLZFile, LockedTargetWhoseExpansionFailsRegistersNothing) {
  TempFolder folder;
  CapturedErrorLog log;
  RecordedRegistrations registrations;
  ScopedOverride<decltype(PlatformOps::LZCopy)> failing(Os.LZCopy, LZCopyFailingHalfWay);
  std::string target = folder / "installed.dll";
  WriteFileBytes(target, "previous content");
  HANDLE lock = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE) << GetLastError();

  int result = CopyLZFile(Fixture("payload.txt_").c_str(), target.c_str());
  CloseHandle(lock);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(log.Text(), "LZCopy " + target + " at CopyLZFile FALSE \r\n");
  EXPECT_EQ(g_registrations.size(), 0u) << Describe(g_registrations);
  EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), 0u);
  EXPECT_EQ(ReadFileBytes(target), "previous content");
}

// Checks the restart way: two registrations in order, the expansion staged beside the target.
void ExpectRestartRegistrations(const std::string &folder, const std::string &target) {
  std::vector<std::string> staged = ListFiles(folder, "kv*.tmp");
  ASSERT_EQ(staged.size(), 1u) << "staged files in " << folder;
  std::string stagedPath = folder + "\\" + staged[0];
  EXPECT_EQ(ReadFileBytes(stagedPath), ReadFileBytes(Fixture("payload.txt")));
  ASSERT_EQ(g_registrations.size(), 2u) << Describe(g_registrations);
  EXPECT_EQ(g_registrations[0].from, target);
  EXPECT_EQ(g_registrations[0].to, "(null)");
  EXPECT_EQ(g_registrations[0].flags, static_cast<DWORD>(MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(g_registrations[1].from, stagedPath);
  EXPECT_EQ(g_registrations[1].to, target);
  EXPECT_EQ(g_registrations[1].flags, static_cast<DWORD>(MOVEFILE_DELAY_UNTIL_REBOOT));
}

TEST(CopyLZFile, TargetHeldOpenIsReplacedAtTheRestart) {
  TempFolder folder;
  CapturedErrorLog log;
  RecordedRegistrations registrations;
  std::string target = folder / "target.dll";
  WriteFileBytes(target, "in use");
  HANDLE lock = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE) << GetLastError();

  int result = CopyLZFile(Fixture("payload.txt_").c_str(), target.c_str());
  CloseHandle(lock);

  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadFileBytes(target), "in use");
  ExpectRestartRegistrations(folder.path(), target);
  // No compressed-name twin made in its place.
  EXPECT_FALSE(FileExists(folder / "target.dl_"));
  EXPECT_EQ(log.Text(), "");
}

// The target could be opened, but the rename over it is refused (a mapped image on Windows):
// the finished expansion waits for the restart instead.
TEST(CopyLZFile, RefusedRenameFallsBackToTheRestart) {
  TempFolder folder;
  CapturedErrorLog log;
  RecordedRegistrations registrations;
  g_refuseRename = true;
  std::string target = folder / "target.dll";
  WriteFileBytes(target, "mapped");

  int result = CopyLZFile(Fixture("payload.txt_").c_str(), target.c_str());

  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadFileBytes(target), "mapped");
  ExpectRestartRegistrations(folder.path(), target);
  EXPECT_EQ(log.Text(), "");
}

TEST(CopyLZFile, ReadOnlyTargetIsReplacedAtTheRestart) {
  TempFolder folder;
  CapturedErrorLog log;
  RecordedRegistrations registrations;
  std::string target = folder / "target.dll";
  WriteFileBytes(target, "read-only");
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE probe = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    GTEST_SKIP() << "read-only files are writable here (Wine run as root): run via tests/wine-run";
  }

  int result = CopyLZFile(Fixture("payload.txt_").c_str(), target.c_str());

  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadFileBytes(target), "read-only");
  ExpectRestartRegistrations(folder.path(), target);
  EXPECT_EQ(log.Text(), "");
}

struct RefusalCase {
  int refused;       // which registration is refused
  size_t stagedLeft; // staged files left beside the target
};

class CopyLZFileRefusedRegistration : public testing::TestWithParam<RefusalCase> {};

TEST_P(CopyLZFileRefusedRegistration, IsAFailureWithALine) {
  const RefusalCase &c = GetParam();
  TempFolder folder;
  CapturedErrorLog log;
  RecordedRegistrations registrations(c.refused);
  std::string target = folder / "target.dll";
  WriteFileBytes(target, "in use");
  HANDLE lock = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE) << GetLastError();

  int result = CopyLZFile(Fixture("payload.txt").c_str(), target.c_str());
  CloseHandle(lock);

  EXPECT_EQ(result, 0) << "refused registration " << c.refused;
  EXPECT_EQ(log.Text(), "MoveFileEx " + target + " at CopyLZFile FALSE \r\n");
  EXPECT_EQ(g_registrations.size(), static_cast<size_t>(c.refused + 1))
      << Describe(g_registrations);
  EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), c.stagedLeft);
  EXPECT_EQ(ReadFileBytes(target), "in use");
}

// A refused deletion leaves nothing pending, so the expansion goes; once the deletion is
// pending, the expansion is the only copy left to put back by hand, so it stays.
INSTANTIATE_TEST_SUITE_P(FirstOrSecond, CopyLZFileRefusedRegistration,
                         testing::Values(RefusalCase{0, 0u}, RefusalCase{1, 1u}));

// A path 200 characters deep: the package and the target both live that deep.
std::string MakeDeepFolder(const std::string &root, size_t length) {
  std::string path = root;
  while (path.size() + 21 < length) {
    path += "\\" + std::string(20, 'd');
    MakeFolder(path);
  }
  return path;
}

TEST(CopyLZFile, PathsOf200CharactersWork) {
  TempFolder folder;
  CapturedErrorLog log;
  std::string deep = MakeDeepFolder(folder.path(), 200);
  std::string package = deep + "\\";
  package += std::string(200 - package.size() - 4, 'p') + ".dl_";
  ASSERT_EQ(package.size(), 200u);
  ASSERT_TRUE(CopyFileA(Fixture("payload.txt_").c_str(), package.c_str(), FALSE))
      << package << " error " << GetLastError();
  std::string target = deep + "\\" + std::string(220 - deep.size() - 5, 't') + ".dll";

  int result = CopyLZFile(package.c_str(), target.c_str());

  EXPECT_EQ(result, 1) << package.size() << "-character package, " << target.size()
                       << "-character target";
  EXPECT_EQ(ReadFileBytes(target), ReadFileBytes(Fixture("payload.txt")));
  EXPECT_EQ(log.Text(), "");
}

long long WriteTimeOf(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    return -1;
  return (static_cast<long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

TEST(ExpandToTempFile, ExpandsIntoAFreshScratchFileWithThePackageTime) {
  char name[MAX_PATH];
  FillBytes(name, sizeof name, 0xA5);
  char *returned = ExpandToTempFile(Fixture("payload.txt_").c_str(), name);
  std::string path = name;
  EXPECT_EQ(returned, name);
  EXPECT_EQ(path.rfind(TempPath() + "KPP", 0), 0u) << path;
  EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(Fixture("payload.txt")));
  EXPECT_EQ(WriteTimeOf(path), WriteTimeOf(Fixture("payload.txt_")));
  DeleteFileA(name);
}

TEST(ExpandToTempFile, MissingPackageLeavesNoFileBehind) {
  std::string temp = TempPath();
  temp.pop_back();
  std::vector<std::string> before = ListFiles(temp, "*");
  char name[MAX_PATH];
  ExpandToTempFile("C:\\no such folder\\missing.dll", name);
  std::vector<std::string> after = ListFiles(temp, "*");
  EXPECT_NE(std::string(name), "");
  EXPECT_FALSE(FileExists(name)) << name;
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(after, before);
}

} // namespace
