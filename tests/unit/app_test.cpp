// Run control: mode letter, options, OS class, program directory and the restart's privilege.
#include <string>
#include <vector>

#include "app/app.h"
#include "testing.h"

namespace {

TEST(ModeLetter, IsTheCharacterAfterTheFirstSlashAndOnlyTenBytesPickAMode) {
  const struct {
    const char *args;
    unsigned char letter; // 0: none found
  } cases[] = {
      {"", 0},       {"/", 0},           {"abc /", 0}, {"/D", 'D'},        {"/Diag", 'D'},
      {"/ D", ' '},  {"/OS=NT /D", 'O'}, {"x/v", 'v'}, {"\"a/L b\"", 'L'}, {"/\xE9", 0xE9},
      {"/FOW", 'F'},
  };
  for (const auto &c : cases) {
    unsigned char letter = 0x55;
    EXPECT_EQ(FindModeLetter(c.args, &letter), c.letter ? 1 : 0) << "args [" << c.args << "]";
    EXPECT_EQ(letter, c.letter ? c.letter : 0x55) << "args [" << c.args << "]";
  }
  const char kModes[] = "DdLlUuVv";
  const RunMode kModeOf[] = {Diagnose,  Diagnose,  LogPatch, LogPatch,
                             Uninstall, Uninstall, Version,  Version};
  for (int byte = 0; byte < 256; ++byte) {
    RunMode expected = Patch;
    for (int i = 0; i < 8; ++i)
      if (byte == static_cast<unsigned char>(kModes[i]))
        expected = kModeOf[i];
    EXPECT_EQ(SelectRunMode(static_cast<unsigned char>(byte)), expected) << "byte " << byte;
  }
}

TEST(Options, AreCaseSensitiveSubstringsAndTheLaterTagWins) {
  const struct {
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

TEST(OsClass, FollowsPlatformThenVersionAndAFailedQueryGivesClass13) {
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
  g_versionResult = FALSE; // whatever is on the stack
  EXPECT_EQ(GetOsClass(), 13u);
}

TEST(ProgramDirectory, IsTheNameUpToItsLastBackslashAndUnknownWhenCut) {
  struct {
    std::string name;
    int result;
    std::string directory;
  } cases[] = {
      {"C:\\Patch\\setup.exe", 1, "C:\\Patch"},
      {"C:\\setup.exe", 1, "C:"},
      {"\\\\server\\share\\setup.exe", 1, "\\\\server\\share"},
      {"C:\\Patch\\\\setup.exe", 1, "C:\\Patch"},
      {"setup.exe", 1, ""},
      {"C:\\" + std::string(249, 'a') + "\\bb.exe", 1, "C:\\" + std::string(249, 'a')}, // 259
      // 260 characters: cut to 259 the name would end inside "bb" and the folder would be an
      // ancestor of the program's, so the folder is unknown.
      {"C:\\" + std::string(251, 'a') + "\\bb\\" + std::string(40, 'c'), 0, ""},
      {"C:\\" + std::string(252, 'a') + "\\b.exe", 0, ""},
  };
  for (auto &c : cases) {
    ScopedProgramPath program(c.name);
    char buffer[260];
    FillMemory(buffer, sizeof buffer, 'x');
    EXPECT_EQ(GetProgramDirectory(buffer), c.result) << c.name;
    EXPECT_EQ(std::string(buffer), c.directory) << c.name;
  }
}

DWORD WINAPI FailingModuleFileName(HMODULE, LPSTR buffer, DWORD) {
  buffer[0] = 'Z';
  return 0;
}

TEST(ProgramDirectory, AnUnreadableNameGivesZeroAndAnEmptyBuffer) {
  ScopedOverride<decltype(Os.GetModuleFileNameA)> fake(Os.GetModuleFileNameA,
                                                       FailingModuleFileName);
  char buffer[260] = "junk";
  EXPECT_EQ(GetProgramDirectory(buffer), 0);
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

TEST(Restart, TakesTheShutdownPrivilegeBeforeAPlainRebootAndWithoutItDoesNotReboot) {
  ScopedOverride<decltype(Os.OpenProcessToken)> open(Os.OpenProcessToken, FakeOpenToken);
  ScopedOverride<decltype(Os.LookupPrivilegeValueA)> lookup(Os.LookupPrivilegeValueA, FakeLookup);
  ScopedOverride<decltype(Os.AdjustTokenPrivileges)> adjust(Os.AdjustTokenPrivileges, FakeAdjust);
  ScopedOverride<decltype(Os.ExitWindowsEx)> exit(Os.ExitWindowsEx, FakeExitWindows);
  ScopedOverride<decltype(Os.CloseHandle)> close(Os.CloseHandle, FakeCloseHandle);
  const std::string kLookup = "Lookup (local) SeShutdownPrivilege";
  const struct {
    const char *title;
    BOOL tokenOpens, lookupWorks;
    DWORD adjustError;
    std::vector<std::string> calls;
  } cases[] = {
      {"granted",
       TRUE,
       TRUE,
       0,
       {"OpenProcessToken", kLookup, "Adjust", "CloseToken", "ExitWindowsEx"}},
      // Without a token the reboot is still requested (a system without security).
      {"no token", FALSE, TRUE, 0, {"OpenProcessToken", "ExitWindowsEx"}},
      {"failed lookup", TRUE, FALSE, 0, {"OpenProcessToken", kLookup, "CloseToken"}},
      {"not granted",
       TRUE,
       TRUE,
       ERROR_NOT_ALL_ASSIGNED,
       {"OpenProcessToken", kLookup, "Adjust", "CloseToken"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.title);
    g_restart = RestartLog();
    g_restart.tokenOpens = c.tokenOpens;
    g_restart.lookupWorks = c.lookupWorks;
    g_restart.adjustError = c.adjustError;
    RestartComputer();
    EXPECT_EQ(g_restart.calls, c.calls);
    bool reboots = c.calls.back() == "ExitWindowsEx";
    EXPECT_EQ(g_restart.exitFlags, reboots ? 2u : 99u);
    EXPECT_EQ(g_restart.exitReserved, reboots ? 0u : 99u);
  }
  EXPECT_EQ(g_restart.access, 0x28u);
  EXPECT_EQ(g_restart.granted.PrivilegeCount, 1u);
  EXPECT_EQ(g_restart.granted.Privileges[0].Luid.LowPart, 19u);
  EXPECT_EQ(g_restart.granted.Privileges[0].Attributes, 2u);
}

} // namespace
