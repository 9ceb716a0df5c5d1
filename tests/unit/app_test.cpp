// Run control: mode letter, options, OS class, program directory, closing box and restart.
#include <string>
#include <vector>

#include "app/app.h"
#include "testing.h"

namespace {

struct LetterCase {
  const char *args;
  int found;
  unsigned char letter;
};

TEST(ModeLetter, IsTheCharacterAfterTheFirstSlashWhateverItIs) {
  const LetterCase cases[] = {
      {"", 0, 0},
      {"/", 0, 0},
      {"abc /", 0, 0},
      {"/D", 1, 'D'},
      {"/Diag", 1, 'D'},
      {"/ D", 1, ' '},
      {"/OS=NT /D", 1, 'O'},
      {"x/v", 1, 'v'},
      {"\"a/L b\"", 1, 'L'},
      {"/\xE9", 1, 0xE9},
      {"/FOW", 1, 'F'},
  };
  for (const LetterCase &c : cases) {
    unsigned char letter = 0x55;
    int found = FindModeLetter(c.args, &letter);
    EXPECT_EQ(found, c.found) << "args [" << c.args << "]";
    if (c.found)
      EXPECT_EQ(letter, c.letter) << "args [" << c.args << "]";
    else
      EXPECT_EQ(letter, 0x55) << "letter written without a letter, args [" << c.args << "]";
  }
}

TEST(ModeLetter, OnlyTenBytesSelectAModeOtherThanPatch) {
  for (int byte = 0; byte < 256; ++byte) {
    RunMode expected = Patch;
    switch (byte) {
    case 'D':
    case 'd':
      expected = Diagnose;
      break;
    case 'L':
    case 'l':
      expected = LogPatch;
      break;
    case 'U':
    case 'u':
      expected = Uninstall;
      break;
    case 'V':
    case 'v':
      expected = Version;
      break;
    }
    EXPECT_EQ(SelectRunMode(static_cast<unsigned char>(byte)), expected) << "byte " << byte;
  }
}

TEST(Options, AreCaseSensitiveSubstringsAndTheLaterTagWins) {
  struct {
    const char *args;
    const char *tag;
    int force;
  } cases[] = {
      {"/OS=NT", "NT", 0},          {"/OS=2000", "2K", 0},           {"/OS=NT /OS=2000", "2K", 0},
      {"/OS=2000 /OS=NT", "2K", 0}, {"/os=nt /fow", "--", 0},        {"/FOWX /OS=NTFS", "NT", 1},
      {"x/FOW", "--", 1},           {"/d /OS=2000 /OS=NT", "2K", 0},
  };
  for (auto &c : cases) {
    OsTag tag = {{'-', '-', 0, 0}};
    ForceOverwrite = 0;
    ApplyOptions(c.args, &tag);
    EXPECT_STREQ(tag.text, c.tag) << "args [" << c.args << "]";
    EXPECT_EQ(ForceOverwrite, c.force) << "args [" << c.args << "]";
  }
  ForceOverwrite = 0;
}

TEST(OsTag, IsTwoLettersAndTwoZeroBytes) {
  DWORD nt, k2;
  static_assert(sizeof(OsTag) == 4, "the tag is a four-byte value");
  CopyMemory(&nt, &kOsTagNT, 4);
  CopyMemory(&k2, &kOsTag2K, 4);
  EXPECT_EQ(nt, 0x544Eu);
  EXPECT_EQ(k2, 0x4B32u);
}

OSVERSIONINFOA g_version;
BOOL g_versionResult;
BOOL WINAPI FakeVersion(LPOSVERSIONINFOA info) {
  EXPECT_EQ(info->dwOSVersionInfoSize, 148u);
  if (g_versionResult) {
    info->dwPlatformId = g_version.dwPlatformId;
    info->dwMajorVersion = g_version.dwMajorVersion;
    info->dwMinorVersion = g_version.dwMinorVersion;
  }
  return g_versionResult;
}

TEST(OsClass, FollowsPlatformThenVersion) {
  struct {
    DWORD platform, major, minor;
    unsigned expected;
  } cases[] = {
      {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 10}, {VER_PLATFORM_WIN32_WINDOWS, 4, 0, 10},
      {VER_PLATFORM_WIN32_NT, 4, 0, 11},       {VER_PLATFORM_WIN32_NT, 5, 0, 12},
      {VER_PLATFORM_WIN32_NT, 5, 1, 13},       {VER_PLATFORM_WIN32_NT, 5, 2, 13},
      {VER_PLATFORM_WIN32_NT, 6, 1, 13},       {VER_PLATFORM_WIN32_NT, 10, 0, 13},
      {VER_PLATFORM_WIN32_NT, 3, 51, 13},      {VER_PLATFORM_WIN32s, 4, 0, 11},
  };
  ScopedOverride<decltype(Os.GetVersionExA)> fake(Os.GetVersionExA, FakeVersion);
  g_versionResult = TRUE;
  for (auto &c : cases) {
    g_version.dwPlatformId = c.platform;
    g_version.dwMajorVersion = c.major;
    g_version.dwMinorVersion = c.minor;
    EXPECT_EQ(GetOsClass(), c.expected)
        << "platform " << c.platform << " version " << c.major << "." << c.minor;
  }
}

TEST(OsClass, AFailedQueryGivesClass13WhateverIsOnTheStack) {
  ScopedOverride<decltype(Os.GetVersionExA)> fake(Os.GetVersionExA, FakeVersion);
  g_versionResult = FALSE;
  EXPECT_EQ(GetOsClass(), 13u);
}

TEST(OsClass, OfThisWineSessionIsNotTheFailureClassByAccident) {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  unsigned expected = info.dwPlatformId == 1                                   ? 10
                      : info.dwMajorVersion == 4                               ? 11
                      : (info.dwMajorVersion == 5 && info.dwMinorVersion == 0) ? 12
                                                                               : 13;
  EXPECT_EQ(GetOsClass(), expected);
}

TEST(ProgramDirectory, IsTheNameUpToItsLastBackslash) {
  struct {
    const char *name;
    const char *directory;
  } cases[] = {
      {"C:\\Patch\\setup.exe", "C:\\Patch"},
      {"C:\\setup.exe", "C:"},
      {"\\\\server\\share\\setup.exe", "\\\\server\\share"},
      {"C:\\Patch\\\\setup.exe", "C:\\Patch"},
      {"setup.exe", ""},
  };
  for (auto &c : cases) {
    ScopedProgramPath program(c.name);
    char buffer[260];
    FillMemory(buffer, sizeof buffer, 'x');
    EXPECT_EQ(GetProgramDirectory(260, buffer), 1) << c.name;
    EXPECT_STREQ(buffer, c.directory) << c.name;
  }
}

TEST(ProgramDirectory, ALongNameIsCutTo259BeforeTheDirectoryIsTaken) {
  // 250 characters of folder, then a second backslash at 255 that survives the cut, then a
  // file name that does not.
  std::string name = "C:\\" + std::string(251, 'a') + "\\bb\\" + std::string(40, 'c');
  ScopedProgramPath program(name);
  char buffer[260];
  ASSERT_EQ(GetProgramDirectory(260, buffer), 1);
  EXPECT_EQ(std::string(buffer), "C:\\" + std::string(251, 'a') + "\\bb");
}

DWORD WINAPI FailingModuleFileName(HMODULE, LPSTR buffer, DWORD) {
  buffer[0] = 'Z';
  return 0;
}

TEST(ProgramDirectory, AnUnreadableNameGivesZeroAndAnEmptyBuffer) {
  ScopedOverride<decltype(Os.GetModuleFileNameA)> fake(Os.GetModuleFileNameA,
                                                       FailingModuleFileName);
  char buffer[260] = "junk";
  EXPECT_EQ(GetProgramDirectory(260, buffer), 0);
  EXPECT_STREQ(buffer, "");
}

// The restart, with every privileged call recorded and none made for real.
struct RestartLog {
  std::vector<std::string> calls;
  BOOL tokenOpens = TRUE, lookupWorks = TRUE;
  DWORD adjustError = 0;
  DWORD access = 0;
  TOKEN_PRIVILEGES granted = {};
  UINT exitFlags = 99;
  DWORD exitReserved = 99;
} g_restart;

BOOL WINAPI FakeOpenToken(HANDLE, DWORD access, PHANDLE token) {
  g_restart.calls.push_back("OpenProcessToken");
  g_restart.access = access;
  *token = reinterpret_cast<HANDLE>(0x1234);
  return g_restart.tokenOpens;
}
BOOL WINAPI FakeLookup(LPCSTR system, LPCSTR name, PLUID luid) {
  g_restart.calls.push_back(std::string("Lookup ") + (system ? system : "(local)") + " " + name);
  if (!g_restart.lookupWorks)
    return FALSE;
  luid->LowPart = 19;
  luid->HighPart = 0;
  return TRUE;
}
BOOL WINAPI FakeAdjust(HANDLE, BOOL disableAll, PTOKEN_PRIVILEGES privileges, DWORD length,
                       PTOKEN_PRIVILEGES previous, PDWORD returned) {
  g_restart.calls.push_back("Adjust");
  EXPECT_FALSE(disableAll);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(previous, nullptr);
  EXPECT_EQ(returned, nullptr);
  g_restart.granted = *privileges;
  SetLastError(g_restart.adjustError);
  return TRUE;
}
BOOL WINAPI FakeExitWindows(UINT flags, DWORD reserved) {
  g_restart.calls.push_back("ExitWindowsEx");
  g_restart.exitFlags = flags;
  g_restart.exitReserved = reserved;
  return TRUE;
}
BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  if (handle == reinterpret_cast<HANDLE>(0x1234)) {
    g_restart.calls.push_back("CloseToken");
    return TRUE;
  }
  return CloseHandle(handle);
}

class Restart : public ::testing::Test {
protected:
  void SetUp() override { g_restart = RestartLog(); }
  ScopedOverride<decltype(Os.OpenProcessToken)> open_{Os.OpenProcessToken, FakeOpenToken};
  ScopedOverride<decltype(Os.LookupPrivilegeValueA)> lookup_{Os.LookupPrivilegeValueA, FakeLookup};
  ScopedOverride<decltype(Os.AdjustTokenPrivileges)> adjust_{Os.AdjustTokenPrivileges, FakeAdjust};
  ScopedOverride<decltype(Os.ExitWindowsEx)> exit_{Os.ExitWindowsEx, FakeExitWindows};
  ScopedOverride<decltype(Os.CloseHandle)> close_{Os.CloseHandle, FakeCloseHandle};
};

TEST_F(Restart, EnablesTheShutdownPrivilegeThenAsksForAPlainReboot) {
  RestartComputer();
  std::vector<std::string> expected = {"OpenProcessToken", "Lookup (local) SeShutdownPrivilege",
                                       "Adjust", "CloseToken", "ExitWindowsEx"};
  EXPECT_EQ(g_restart.calls, expected);
  EXPECT_EQ(g_restart.access, 0x28u);
  EXPECT_EQ(g_restart.granted.PrivilegeCount, 1u);
  EXPECT_EQ(g_restart.granted.Privileges[0].Luid.LowPart, 19u);
  EXPECT_EQ(g_restart.granted.Privileges[0].Attributes, 2u);
  EXPECT_EQ(g_restart.exitFlags, 2u);
  EXPECT_EQ(g_restart.exitReserved, 0u);
}

TEST_F(Restart, WithoutATokenTheRebootIsStillRequested) {
  g_restart.tokenOpens = FALSE;
  RestartComputer();
  std::vector<std::string> expected = {"OpenProcessToken", "ExitWindowsEx"};
  EXPECT_EQ(g_restart.calls, expected);
}

TEST_F(Restart, AMissingPrivilegeEndsWithoutAReboot) {
  g_restart.adjustError = ERROR_NOT_ALL_ASSIGNED;
  RestartComputer();
  EXPECT_EQ(g_restart.exitFlags, 99u) << "ExitWindowsEx was called";
}

TEST_F(Restart, AFailedLookupAdjustsNothingAndDoesNotReboot) {
  g_restart.lookupWorks = FALSE;
  RestartComputer();
  std::vector<std::string> expected = {"OpenProcessToken", "Lookup (local) SeShutdownPrivilege",
                                       "CloseToken"};
  EXPECT_EQ(g_restart.calls, expected);
}

int g_boxAnswer;
std::string g_boxText, g_boxCaption;
UINT g_boxStyle;
HWND g_boxOwner;
int g_boxes;
int WINAPI FakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  ++g_boxes;
  g_boxOwner = owner;
  g_boxText = text;
  g_boxCaption = caption;
  g_boxStyle = style;
  return g_boxAnswer;
}

TEST_F(Restart, TheClosingBoxIsOkCancelAloneAndOnlyOkRestarts) {
  ScopedOverride<decltype(Os.MessageBoxA)> box(Os.MessageBoxA, FakeMessageBox);
  g_boxes = 0;
  for (int answer : {IDCANCEL, IDOK}) {
    g_restart = RestartLog();
    g_boxAnswer = answer;
    g_boxOwner = reinterpret_cast<HWND>(1);
    EXPECT_EQ(ShowClosingBox("text", "caption"), 0);
    EXPECT_EQ(g_boxStyle, static_cast<UINT>(MB_OKCANCEL));
    EXPECT_EQ(g_boxOwner, nullptr);
    EXPECT_EQ(g_boxText, "text");
    EXPECT_EQ(g_boxCaption, "caption");
    EXPECT_EQ(g_restart.exitFlags, answer == IDOK ? 2u : 99u) << "answer " << answer;
  }
  EXPECT_EQ(ShowClosingBox("", "caption"), 0);
  EXPECT_EQ(g_boxes, 2) << "an empty text must show no box";
}

} // namespace
