// The error log, the report's service line and the spooler, where only the seam can take them.
#include "testing.h"

#include <process.h>

TEST(ErrorLog, IsAFileOfItsOwnThatOthersCanReadButNotTouchAndNoneWithoutATempFolder) {
  Log log;
  std::string planted = log.name;
  WriteFileBytes(planted, "other program");
  AppendErrorLog("ours \r\n");
  EXPECT_EQ(ReadFileBytes(planted) + "|" + log.Text(), "other program|ours \r\n");
  EXPECT_EQ(CreateFileA(log.name, GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA(log.name) || MoveFileA(log.name, (planted + "2").c_str()));
  SEAM(GetTempPathA, [](DWORD, LPSTR) WINAPI -> DWORD { return 0; });
  EXPECT_STREQ(MakeErrorLogName(), "");
}

// Once our file in the temp folder is closed, another program swaps the folder for one of its
// own with a file at our file's name: that file never takes the final name. (Wine's handles
// keep their path, so a swap after the move has begun cannot be shown here.)
static std::string g_folder; // the temp folder, without its backslash
static int g_swaps;

TEST(TempFolder, AFileSwappedInAfterOursIsClosedNeverTakesTheFinalName) {
  SEAM(GetTempPathA, [](DWORD size, LPSTR path) WINAPI -> DWORD {
    return lstrlenA(lstrcpynA(path, (g_folder + "\\").c_str(), size));
  });
  SEAM(CloseHandle, [](HANDLE file) WINAPI {
    BOOL closed = CloseHandle(file);
    WIN32_FIND_DATAA found;
    HANDLE search =
        g_swaps ? INVALID_HANDLE_VALUE : FindFirstFileA((g_folder + "\\KPP*.tmp").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search), g_swaps = 1;
      EXPECT_TRUE(MoveFileA(g_folder.c_str(), (g_folder + "o").c_str()));
      EXPECT_TRUE(CreateDirectoryA(g_folder.c_str(), nullptr));
      WriteFileBytes(g_folder + "\\" + found.cFileName, "planted");
    }
    return closed;
  });
  for (std::string name : {"tolvanix.log", kKeptErrorLogName}) {
    g_folder = NewFolder(), g_swaps = 0;
    if (name == kKeptErrorLogName) {
      Log log;
      AppendErrorLog("ours \r\n");
      KeepErrorLog();
    } else
      WriteDiagnosticReport(0);
    EXPECT_EQ(std::to_string(g_swaps) + ReadFileBytes(g_folder + "\\" + name), "1") << name;
  }
}

// A name another program can foresee, it can take first: two runs started together (see main)
// begin apart, and within a run no name repeats or follows the one before by one.
TEST(TempFolder, FreshNamesCannotBeForeseenAcrossRunsOrWithinARun) {
  char self[MAX_PATH], name[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  intptr_t runs[2] = {_spawnl(_P_NOWAIT, self, "tests", "--first-fresh-name", nullptr),
                      _spawnl(_P_NOWAIT, self, "tests", "--first-fresh-name", nullptr)};
  int first[2] = {0, 0};
  for (int i = 0; i < 2; ++i)
    ASSERT_NE(_cwait(&first[i], runs[i], 0), -1) << errno;
  EXPECT_TRUE(first[0] && first[0] != first[1]) << std::hex << first[0] << " " << first[1];
  std::string folder = NewFolder() + "\\", names;
  for (DWORD i = 0, previous = 0, number; i < 64; ++i, previous = number) {
    ASSERT_TRUE(MakeFreshName(folder.c_str(), "KPP", name)) << folder;
    number = strtoul(name + folder.size() + 3, nullptr, 16);
    ASSERT_TRUE(names.find(name + folder.size()) == std::string::npos && number != previous + 1)
        << name << " after " << names;
    names += name + folder.size();
  }
}

static char g_fail; // 'S' or 'D' another service or display name, 'M' the manager refuses,
                    // 'L' the listing fails, 'A' no memory for it
static DWORD g_state;
static BOOL WINAPI FakeEnum(SC_HANDLE, DWORD, DWORD, LPENUM_SERVICE_STATUSA out, DWORD size,
                            LPDWORD needed, LPDWORD count, LPDWORD) {
  static char name[] = "Kestova XP spl Service", shown[] = "KvSplService", other[] = "Spooler";
  *needed = sizeof *out, *count = size >= sizeof *out;
  if (*count)
    *out = {
        g_fail == 'S' ? other : name, g_fail == 'D' ? other : shown, {0, g_state, 0, 0, 0, 0, 0}};
  return *count && g_fail != 'L'; // a failed listing may still have filled the buffer
}

TEST(Report, NamesTheHelperServiceStateOnItsFirstLine) {
  // Each state, then each way the service is not seen as ours (its state RUNNING all the same).
  const char *lines[] = {"STOPPED", "START_PENDING",    "STOP_PENDING",
                         "RUNNING", "CONTINUE_PENDING", "PAUSE_PENDING",
                         "PAUSED",  "UNKNOWN_STATE 8",  "UNKNOWN_STATE 9"};
  SEAM(OpenSCManagerA,
       [](LPCSTR, LPCSTR, DWORD) WINAPI { return g_fail == 'M' ? 0 : SC_HANDLE(1); });
  SEAM(CloseServiceHandle, [](SC_HANDLE) WINAPI -> BOOL { return TRUE; });
  SEAM(EnumServicesStatusA, FakeEnum);
  SEAM(LocalAlloc,
       [](UINT how, SIZE_T size) WINAPI { return g_fail == 'A' ? 0 : LocalAlloc(how, size); });
  for (const char *r = "123456789SDMLA"; *r; ++r) {
    g_state = *r <= '9' ? *r - '0' : 4, g_fail = *r <= '9' ? 0 : *r;
    WriteDiagnosticReport(0);
    std::string report = ReadFileBytes(g_temp + "tolvanix.log");
    EXPECT_EQ(report.substr(0, report.find('\r')),
              std::string("Kvsrv05c = SERVICE_") + (g_fail ? "NOT_INSTALLED" : lines[g_state - 1]));
  }
}

TEST(Spooler, ARefusedManagerIsLoggedWithItsCodeAndNothingElseIsOpened) {
  SEAM(OpenSCManagerA, [](LPCSTR, LPCSTR, DWORD) WINAPI { return SetLastError(5), SC_HANDLE(0); });
  SEAM(OpenServiceA, [](SC_HANDLE, LPCSTR, DWORD) WINAPI { return ADD_FAILURE(), SC_HANDLE(0); });
  SEAM(CloseServiceHandle, [](SC_HANDLE) WINAPI { return ADD_FAILURE(), TRUE; });
  Log log;
  EXPECT_EQ(StopSpoolService("spooler"), 0);
  EXPECT_EQ(StartSpoolService("spooler"), 0);
  EXPECT_EQ(log.Text(), "OpenSCManager at StopSpoolService FALSE 5 \r\n"
                        "OpenSCManager at StartSpoolService FALSE 5 \r\n");
}
