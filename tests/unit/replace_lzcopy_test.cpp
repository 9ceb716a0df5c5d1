// The compressed copy where a patch run cannot take it: an empty package, a truncated package, a
// copy that breaks off half-way, a refused rename and refused restart registrations.
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "testing.h"

namespace {

std::string Fixture(const std::string &name) { return TestFile(name); }

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

// The copy without the gate, as CopySplFile makes it under /FOW.
int ForcedCopy(const std::string &source, const std::string &target) {
  ForceOverwrite = 1;
  int result = CopySplFile(source.c_str(), target.c_str());
  ForceOverwrite = 0;
  return result;
}

std::string CopyFailed(const std::string &target) {
  return "CopyLZFile " + target + " at CopySplFile FALSE \r\n";
}

std::string Describe(const std::vector<Registration> &list) {
  std::string text;
  for (const Registration &r : list)
    text += "[" + r.from + " -> " + r.to + " flags " + std::to_string(r.flags) + "] ";
  return text.empty() ? "(none)" : text;
}

// mscompress writes one stray literal after the header of an empty file, so the empty
// compressed package is made here: the bare header with an expanded length of 0.
TEST(CopyLZFile, EmptyPlainOrCompressedPackageGivesAnEmptyTarget) {
  TempFolder folder;
  std::string package = folder / "empty.dl_";
  WriteFileBytes(package, std::string("SZDD\x88\xf0\x27\x33"
                                      "A\0\0\0\0\0",
                                      14));
  WriteFileBytes(folder / "empty.txt", "");
  for (const std::string &from : {package, folder / "empty.txt"}) {
    std::string target = folder / "empty.dll";
    WriteFileBytes(target, "old");
    EXPECT_EQ(ForcedCopy(from, target), 1) << from;
    EXPECT_TRUE(FileExists(target)) << from;
    EXPECT_EQ(ReadFileBytes(target), "") << from;
  }
}

// Whether the target can be replaced now or only at the restart, a failed expansion leaves
// it as it was and registers nothing.
TEST(CopyLZFile, CopyBreakingOffHalfWayKeepsTheInstalledFileLockedOrNot) {
  ScopedOverride<decltype(PlatformOps::LZCopy)> failing(Os.LZCopy, LZCopyFailingHalfWay);
  for (int locked = 0; locked < 2; ++locked) {
    TempFolder folder;
    CapturedErrorLog log;
    RecordedRegistrations registrations;
    std::string target = folder / "installed.dll";
    WriteFileBytes(target, "previous content");
    HANDLE lock = locked ? CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)
                         : INVALID_HANDLE_VALUE;
    ASSERT_EQ(lock != INVALID_HANDLE_VALUE, locked != 0) << GetLastError();

    int result = ForcedCopy(Fixture("payload.txt_"), target);
    if (locked)
      CloseHandle(lock);

    EXPECT_EQ(result, 0) << "locked " << locked;
    EXPECT_EQ(ReadFileBytes(target), "previous content") << "locked " << locked;
    EXPECT_EQ(log.Text(), "LZCopy " + target + " at CopyLZFile FALSE \r\n" + CopyFailed(target));
    EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), 0u) << "failed expansion left behind";
    EXPECT_EQ(g_registrations.size(), 0u) << Describe(g_registrations);
  }
}

TEST(CopyLZFile, TruncatedCompressedPackageKeepsTheInstalledFile) {
  // The platform's expansion stops early on a cut file without an error; only the size the
  // header declares tells it from a whole one.
  TempFolder folder;
  CapturedErrorLog log;
  std::string target = folder / "installed.dll";
  WriteFileBytes(target, "previous content");

  int result = ForcedCopy(TestFile("cut.dll_"), target);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFileBytes(target), "previous content");
  EXPECT_EQ(log.Text(), "LZCopy " + target + " at CopyLZFile FALSE \r\n" + CopyFailed(target));
  EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), 0u) << "failed expansion left behind";
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

// The target could be opened, but the rename over it is refused (a mapped image on Windows):
// the finished expansion waits for the restart instead.
TEST(CopyLZFile, RefusedRenameFallsBackToTheRestart) {
  TempFolder folder;
  CapturedErrorLog log;
  RecordedRegistrations registrations;
  g_refuseRename = true;
  std::string target = folder / "target.dll";
  WriteFileBytes(target, "mapped");

  int result = ForcedCopy(Fixture("payload.txt_"), target);

  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadFileBytes(target), "mapped");
  ExpectRestartRegistrations(folder.path(), target);
  EXPECT_EQ(log.Text(), "");
}

// A refused deletion leaves nothing pending, so the expansion goes; once the deletion is
// pending, the expansion is the only copy left to put back by hand, so it stays.
TEST(CopyLZFile, ARefusedRegistrationIsAFailureWithALine) {
  for (int refused = 0; refused < 2; ++refused) {
    TempFolder folder;
    CapturedErrorLog log;
    RecordedRegistrations registrations(refused);
    std::string target = folder / "target.dll";
    WriteFileBytes(target, "in use");
    HANDLE lock = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE) << GetLastError();

    int result = ForcedCopy(Fixture("payload.txt"), target);
    CloseHandle(lock);

    EXPECT_EQ(result, 0) << "refused registration " << refused;
    EXPECT_EQ(log.Text(),
              "MoveFileEx " + target + " at CopyLZFile FALSE \r\n" + CopyFailed(target));
    EXPECT_EQ(g_registrations.size(), static_cast<size_t>(refused + 1))
        << Describe(g_registrations);
    EXPECT_EQ(ListFiles(folder.path(), "kv*").size(), static_cast<size_t>(refused));
    EXPECT_EQ(ReadFileBytes(target), "in use");
  }
}

} // namespace
