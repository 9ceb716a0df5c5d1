// The diagnostic report where a run under Wine cannot take it: service states and service
// manager failures, names that do not fit, a report name that cannot be replaced. Written for
// real into a temp folder of the test's own, about a system folder of the test's own.
#include <string.h>
#include <string>
#include <vector>

#include "report/report.h"
#include "testing.h"

namespace {

const char kSeparator[] = "-----------------------------------------------------------\r\n";

std::string g_systemDir;
std::string g_tempPath;
std::vector<std::string> g_commandLines;

UINT WINAPI FakeSystemDirectory(LPSTR buffer, UINT size) {
  if (g_systemDir.size() >= size)
    return static_cast<UINT>(g_systemDir.size() + 1);
  lstrcpyA(buffer, g_systemDir.c_str());
  return static_cast<UINT>(g_systemDir.size());
}

DWORD WINAPI FakeTempPath(DWORD size, LPSTR buffer) {
  if (g_tempPath.size() >= size)
    return static_cast<DWORD>(g_tempPath.size() + 1);
  lstrcpyA(buffer, g_tempPath.c_str());
  return static_cast<DWORD>(g_tempPath.size());
}

// Notepad is not started; its command line is kept.
BOOL WINAPI CapturingCreateProcess(LPCSTR, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                                   LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                                   LPSTARTUPINFOA, LPPROCESS_INFORMATION) {
  g_commandLines.push_back(commandLine);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return FALSE;
}

// The service manager's list of active services, as the listing call hands it out.
struct FakeService {
  const char *serviceName;
  const char *displayName;
  DWORD state;
};
std::vector<FakeService> g_services;
bool g_openFails;
bool g_listFails;
DWORD g_openAccess;
int g_closed;
DWORD g_announcedSize;
const SC_HANDLE kManager = reinterpret_cast<SC_HANDLE>(0x5c0);

SC_HANDLE WINAPI FakeOpenManager(LPCSTR, LPCSTR, DWORD access) {
  g_openAccess = access;
  if (g_openFails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return kManager;
}

BOOL WINAPI FakeCloseService(SC_HANDLE handle) {
  if (handle == kManager)
    ++g_closed;
  return TRUE;
}

BOOL WINAPI FakeEnumServices(SC_HANDLE manager, DWORD type, DWORD state,
                             LPENUM_SERVICE_STATUSA buffer, DWORD size, LPDWORD needed,
                             LPDWORD count, LPDWORD resume) {
  if (manager != kManager || type != SERVICE_WIN32 || state != SERVICE_ACTIVE || !resume ||
      *resume != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD total = static_cast<DWORD>(g_services.size() * sizeof(ENUM_SERVICE_STATUSA));
  for (const FakeService &s : g_services)
    total += lstrlenA(s.serviceName) + lstrlenA(s.displayName) + 2;
  *count = 0;
  if (!buffer || size < total) {
    *needed = total;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  g_announcedSize = size;
  if (g_listFails) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  char *strings = reinterpret_cast<char *>(buffer + g_services.size());
  for (size_t i = 0; i < g_services.size(); ++i) {
    buffer[i].lpServiceName = lstrcpyA(strings, g_services[i].serviceName);
    strings += lstrlenA(strings) + 1;
    buffer[i].lpDisplayName = lstrcpyA(strings, g_services[i].displayName);
    strings += lstrlenA(strings) + 1;
    buffer[i].ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    buffer[i].ServiceStatus.dwCurrentState = g_services[i].state;
  }
  *count = static_cast<DWORD>(g_services.size());
  *needed = 0;
  return TRUE;
}

HLOCAL WINAPI FailingLocalAlloc(UINT, SIZE_T) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

FILETIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME parts = {};
  parts.wYear = year;
  parts.wMonth = month;
  parts.wDay = day;
  parts.wHour = hour;
  parts.wMinute = minute;
  parts.wSecond = second;
  FILETIME time = {};
  SystemTimeToFileTime(&parts, &time);
  return time;
}

class DiagnosticReport : public testing::Test {
protected:
  DiagnosticReport()
      : programPath_(program_ / "tolvanix.exe"),
        system_(Os.GetSystemDirectoryA, FakeSystemDirectory),
        tempPath_(Os.GetTempPathA, FakeTempPath),
        notepad_(Os.CreateProcessA, CapturingCreateProcess),
        open_(Os.OpenSCManagerA, FakeOpenManager), enum_(Os.EnumServicesStatusA, FakeEnumServices),
        close_(Os.CloseServiceHandle, FakeCloseService) {
    g_systemDir = systemDir_.path();
    g_tempPath = tempDir_.path() + "\\";
    g_commandLines.clear();
    g_services.clear();
    g_openFails = g_listFails = false;
    g_openAccess = 0;
    g_closed = 0;
    g_announcedSize = 0;
  }

  void Ini(const std::string &text) { WriteFileBytes(program_ / "tolvanix.ini", text); }
  std::string ReportName() const { return tempDir_ / "tolvanix.log"; }
  // Runs the D mode and gives the report's bytes.
  std::string Run() {
    EXPECT_EQ(1, WriteDiagnosticReport(1));
    return ReadFileBytes(ReportName());
  }
  static std::string Absent(const std::string &path) {
    return kSeparator + ("file              = " + path + "\r\n");
  }
  std::string AbsentFixedRecords(int from) const {
    static const char *const kFixed[] = {"kvqrt7xb.dll", "kvqrtwyn.dll",
                                         "kvhl05c.exe",  "kvsrv05c.exe",
                                         "kvsrv05c.ksi", "spool\\prtprocs\\w32x86\\kvprc7a.dll"};
    std::string text;
    for (int i = from; i < 6; ++i)
      text += Absent(systemDir_ / kFixed[i]);
    return text;
  }
  static std::string Section(const char *stateLine, const char *helperLine) {
    return std::string(stateLine) + "\r\n\r\n" + helperLine + "\r\n\r\n";
  }

  TempFolder program_;
  TempFolder systemDir_;
  TempFolder tempDir_;
  ScopedProgramPath programPath_;
  ScopedOverride<decltype(PlatformOps::GetSystemDirectoryA)> system_;
  ScopedOverride<decltype(PlatformOps::GetTempPathA)> tempPath_;
  ScopedOverride<decltype(PlatformOps::CreateProcessA)> notepad_;
  ScopedOverride<decltype(PlatformOps::OpenSCManagerA)> open_;
  ScopedOverride<decltype(PlatformOps::EnumServicesStatusA)> enum_;
  ScopedOverride<decltype(PlatformOps::CloseServiceHandle)> close_;
};

TEST(FormatFileTime, WritesUtcDateAndTimeWithoutLeadingZeros) {
  struct {
    FILETIME time;
    const char *text;
  } cases[] = {
      {Utc(2005, 2, 1, 8, 5, 9), "2005/2/1   8:5:9"},
      {Utc(2004, 11, 30, 2, 41, 7), "2004/11/30   2:41:7"},
      {Utc(1999, 12, 31, 23, 59, 59), "1999/12/31   23:59:59"},
      {{0, 0}, "1601/1/1   0:0:0"},
      // Beyond what FileTimeToSystemTime converts: zeros, not whatever the stack held.
      {{0xFFFFFFFF, 0xFFFFFFFF}, "0/0/0   0:0:0"},
  };
  for (const auto &c : cases) {
    char buffer[kReportTextCapacity];
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(buffer, FormatFileTime(&c.time, buffer));
    EXPECT_STREQ(c.text, buffer) << "file time " << c.time.dwHighDateTime << ":"
                                 << c.time.dwLowDateTime;
  }
}

TEST_F(DiagnosticReport, NamesTheHelperServiceStateOnItsFirstLine) {
  const char *kName = "Kestova XP spl Service";
  const char *kDisplay = "KvSplService";
  enum { kListed, kOpenFails, kListFails };
  struct {
    std::vector<FakeService> services;
    int failure;
    int state;
    const char *line; // after "Kvsrv05c = "
  } cases[] = {
      {{{kName, kDisplay, 1}}, kListed, 1, "SERVICE_STOPPED"},
      {{{kName, kDisplay, 2}}, kListed, 2, "SERVICE_START_PENDING"},
      {{{kName, kDisplay, 3}}, kListed, 3, "SERVICE_STOP_PENDING"},
      {{{kName, kDisplay, 4}}, kListed, 4, "SERVICE_RUNNING"},
      {{{kName, kDisplay, 5}}, kListed, 5, "SERVICE_CONTINUE_PENDING"},
      {{{kName, kDisplay, 6}}, kListed, 6, "SERVICE_PAUSE_PENDING"},
      {{{kName, kDisplay, 7}}, kListed, 7, "SERVICE_PAUSED"},
      {{{kName, kDisplay, 9}}, kListed, 9, "SERVICE_UNKNOWN_STATE 9"},
      {{{kName, kDisplay, 0}}, kListed, 0, "SERVICE_UNKNOWN_STATE 0"},
      {{}, kListed, -1, "SERVICE_NOT_INSTALLED"},
      // Names the other way round, or differing in case, are another service.
      {{{kDisplay, kName, 4}}, kListed, -1, "SERVICE_NOT_INSTALLED"},
      {{{"kestova xp spl service", kDisplay, 4}}, kListed, -1, "SERVICE_NOT_INSTALLED"},
      {{{"a", "b", 1}, {kName, kDisplay, 7}, {kName, kDisplay, 4}}, kListed, 7, "SERVICE_PAUSED"},
      {{{kName, kDisplay, 4}}, kOpenFails, -1, "SERVICE_NOT_INSTALLED"},
      {{{kName, kDisplay, 4}}, kListFails, -1, "SERVICE_NOT_INSTALLED"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    g_services = c.services;
    g_openFails = c.failure == kOpenFails;
    g_listFails = c.failure == kListFails;
    g_closed = 0;
    EXPECT_EQ(c.state, GetHelperServiceState());
    EXPECT_EQ(g_openFails ? 0 : 1, g_closed) << "service manager handle closes";
    std::string report = Run();
    EXPECT_EQ(std::string("Kvsrv05c = ") + c.line + "\r\n\r\nKvhl05c.exe = STOP\r\n\r\n",
              report.substr(0, report.find(kSeparator)));
  }
}

TEST_F(DiagnosticReport, ListingCallIsGivenTheSizeTheSizingCallAsked) {
  g_services = {{"Kestova XP spl Service", "KvSplService", 4}, {"Spooler", "Print Spooler", 4}};
  EXPECT_EQ(4, GetHelperServiceState());
  EXPECT_EQ(2 * sizeof(ENUM_SERVICE_STATUSA) + 23 + 13 + 8 + 14, g_announcedSize);
  ScopedOverride<decltype(PlatformOps::LocalAlloc)> noMemory(Os.LocalAlloc, FailingLocalAlloc);
  g_closed = 0;
  EXPECT_EQ(-1, GetHelperServiceState()) << "without a buffer";
  EXPECT_EQ(1, g_closed);
}

std::vector<std::string> g_created;
HANDLE WINAPI RecordingCreateFile(LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE model) {
  g_created.push_back(name);
  return CreateFileA(name, access, share, security, disposition, flags, model);
}

TEST_F(DiagnosticReport, AReportNameThatDoesNotFitWritesNothingAndStartsNoNotepad) {
  ScopedOverride<decltype(PlatformOps::CreateFileA)> create(Os.CreateFileA, RecordingCreateFile);
  // A temp path of 248 characters or more leaves no room for "tolvanix.log" in 259; one of 300
  // does not fit GetTempPathA's buffer at all; none at all is a failed lookup.
  for (size_t length : {248u, 300u, 0u}) {
    g_tempPath = length ? "C:\\" + std::string(length - 4, 't') + "\\" : "";
    g_commandLines.clear();
    g_created.clear();
    EXPECT_EQ(1, WriteDiagnosticReport(1));
    EXPECT_TRUE(g_commandLines.empty()) << g_commandLines[0];
    EXPECT_TRUE(g_created.empty()) << "created " << g_created[0];
    EXPECT_EQ(0, WriteReportLine("after the run"));
  }
}

TEST_F(DiagnosticReport, AReportWhoseNotepadCommandDoesNotFitIsWrittenButNotShown) {
  // A 240-character temp path gives a 252-character report name, and "notepad  " and that name
  // would take 261 characters.
  std::string deep = tempDir_.path() + "\\" + std::string(239 - tempDir_.path().size() - 1, 'n');
  ASSERT_EQ(239u, deep.size());
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << "error " << GetLastError();
  g_tempPath = deep + "\\";
  EXPECT_EQ(1, WriteDiagnosticReport(1));
  std::string written = ReadFileBytes(deep + "\\tolvanix.log");
  EXPECT_EQ(0u, written.find("Kvsrv05c = SERVICE_NOT_INSTALLED\r\n")) << written;
  EXPECT_TRUE(g_commandLines.empty()) << g_commandLines[0];
}

TEST_F(DiagnosticReport, ANameThatCannotBeReplacedIsLeftAloneAndNothingIsWrittenElsewhere) {
  const std::string fresh =
      Section("Kvsrv05c = SERVICE_NOT_INSTALLED", "Kvhl05c.exe = STOP") + AbsentFixedRecords(0);
  // A folder is never replaced. Windows refuses to replace a read-only file too; Wine replaces
  // it. Either way nothing but tolvanix.log is touched and Notepad shows only a whole report.
  WriteFileBytes(ReportName(), "earlier report");
  ASSERT_TRUE(SetFileAttributesA(ReportName().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(1, WriteDiagnosticReport(1));
  std::string now = ReadFileBytes(ReportName());
  if (now == "earlier report") {
    EXPECT_TRUE(g_commandLines.empty()) << g_commandLines[0];
  } else {
    EXPECT_EQ(fresh, now);
    EXPECT_EQ(1u, g_commandLines.size());
  }
  EXPECT_EQ(std::vector<std::string>{"tolvanix.log"}, ListFiles(tempDir_.path(), "*"))
      << "files in the temp folder";
  SetFileAttributesA(ReportName().c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(ReportName().c_str());

  MakeFolder(ReportName());
  g_commandLines.clear();
  EXPECT_EQ(1, WriteDiagnosticReport(1));
  EXPECT_TRUE(g_commandLines.empty()) << g_commandLines[0];
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ReportName().c_str()));
  EXPECT_TRUE(GetFileAttributesA(ReportName().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(std::vector<std::string>{}, ListFiles(tempDir_.path(), "*"))
      << "files in the temp folder";
  EXPECT_EQ(std::vector<std::string>{}, ListFiles(ReportName(), "*"));
}

// Plants a Unix symbolic link to an existing target from the Unix side of Wine; Windows APIs of
// this era cannot, and Wine's own CreateSymbolicLinkA makes nothing.
bool PlantUnixLink(const std::string &link, const std::string &target) {
  typedef char *(CDECL * UnixName)(LPCWSTR);
  UnixName unixName = reinterpret_cast<UnixName>(reinterpret_cast<void *>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!unixName)
    return false;
  auto convert = [unixName](const std::string &path) {
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char *name = unixName(wide);
    std::string result = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
  };
  // Wine hands a Unix program its arguments split at blanks, unquoted: the test paths hold none.
  std::string command = "/bin/ln -s " + convert(target) + " " + convert(link);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine does not wait for a Unix program through its handle: wait for the link to lead to the
  // target, which therefore has to exist.
  for (int i = 0; i < 200 && !FileExists(link); ++i)
    Sleep(50);
  return FileExists(link);
}

TEST_F(DiagnosticReport, ALinkPlantedAsTheReportNameIsNotWrittenThrough) {
  const std::string fresh =
      Section("Kvsrv05c = SERVICE_NOT_INSTALLED", "Kvhl05c.exe = STOP") + AbsentFixedRecords(0);
  TempFolder elsewhere;
  std::string victim = elsewhere / "victim.txt";
  WriteFileBytes(victim, "not to be touched");
  if (!PlantUnixLink(ReportName(), victim))
    GTEST_SKIP() << "no Wine Unix side to plant a link with";
  ASSERT_EQ("not to be touched", ReadFileBytes(ReportName())) << "the link was not planted";
  EXPECT_EQ(fresh, Run());
  EXPECT_EQ("not to be touched", ReadFileBytes(victim));
  EXPECT_EQ(std::vector<std::string>{"notepad  " + ReportName()}, g_commandLines);

  // A link to a name that does not exist yet must not bring that name into being either.
  std::string unborn = elsewhere / "unborn.txt";
  TempFolder otherTemp;
  g_tempPath = otherTemp.path() + "\\";
  std::string link = otherTemp / "tolvanix.log";
  WriteFileBytes(unborn, "gone before the run");
  ASSERT_TRUE(PlantUnixLink(link, unborn));
  ASSERT_TRUE(DeleteFileA(unborn.c_str()));
  EXPECT_EQ(1, WriteDiagnosticReport(1));
  EXPECT_FALSE(FileExists(unborn)) << ReadFileBytes(unborn);
  EXPECT_EQ(fresh, ReadFileBytes(link));
}
} // namespace
