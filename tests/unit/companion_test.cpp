// The companion library binding beyond what a patch run can show: requests a run never sends,
// a program directory that cannot be read or does not fit, and requests outside the load.
#include <string>
#include <vector>

#include "report/report.h"
#include "service/service.h"
#include "testing.h"

namespace {

DWORD g_major;
DWORD g_minor;

BOOL WINAPI FakeVersion(LPOSVERSIONINFOA info) {
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->dwMajorVersion = g_major;
  info->dwMinorVersion = g_minor;
  info->dwBuildNumber = 1;
  return TRUE;
}

// Makes GetOsClass see Windows 2000 (5.0) or XP (5.1).
class ScopedOsVersion {
public:
  ScopedOsVersion(DWORD major, DWORD minor) : override_(Os.GetVersionExA, FakeVersion) {
    g_major = major;
    g_minor = minor;
  }

private:
  ScopedOverride<decltype(PlatformOps::GetVersionExA)> override_;
};

std::vector<std::string> g_loaded;
HMODULE WINAPI RecordingLoadLibrary(LPCSTR name, HANDLE file, DWORD flags) {
  g_loaded.push_back(name);
  return LoadLibraryExA(name, file, flags);
}

int g_freed;
BOOL WINAPI CountingFreeLibrary(HMODULE module) {
  ++g_freed;
  return FreeLibrary(module);
}

// A program folder of its own, an error log, and the file the companion stand-in records its
// attach, calls and detach in. Every test ends with the library unloaded.
class Companion : public testing::Test {
protected:
  Companion()
      : program_(folder_ / "tolvanix.exe"), load_(Os.LoadLibraryExA, RecordingLoadLibrary),
        free_(Os.FreeLibrary, CountingFreeLibrary) {
    calls_ = folder_ / "calls.txt";
    SetEnvironmentVariableA("TOLVANIX_STANDIN_LOG", calls_.c_str());
    g_loaded.clear();
    g_freed = 0;
    std::string from = TestFile("standin.dll");
    EXPECT_TRUE(CopyFileA(from.c_str(), (folder_ / "kvprc7a.dll").c_str(), FALSE))
        << "copy " << from << " error " << GetLastError();
  }
  ~Companion() override {
    UnloadPrintProcessor();
    SetEnvironmentVariableA("TOLVANIX_STANDIN_LOG", nullptr);
  }
  std::string Calls() const { return ReadFileBytes(calls_); }

  TempFolder folder_;
  ScopedProgramPath program_;
  CapturedErrorLog log_;
  ScopedOverride<decltype(PlatformOps::LoadLibraryExA)> load_;
  ScopedOverride<decltype(PlatformOps::FreeLibrary)> free_;
  std::string calls_;
};

TEST_F(Companion, RequestsOtherThanStartAndStopComeBackUnchangedOnXpOnly) {
  ASSERT_EQ(1, LoadPrintProcessor());
  {
    ScopedOsVersion xp(5, 1);
    EXPECT_EQ(2, KvSplServiceControl(2));
    EXPECT_EQ(-7, KvSplServiceControl(-7));
    EXPECT_EQ("", log_.Text());
  }
  {
    ScopedOsVersion w2k(5, 0);
    EXPECT_EQ(0, KvSplServiceControl(2));
    EXPECT_EQ("not XP  KvSplServiceControl FALSE \r\n", log_.Text());
  }
  EXPECT_EQ(folder_ / "kvprc7a.dll attach -\r\n", Calls())
      << "nothing but the load may reach the library";
}

// Before the load and after the unload no stale entry point may be called.
TEST_F(Companion, RequestsBeforeTheLoadAndAfterTheUnloadCallNothingAndLogNothing) {
  ScopedOsVersion xp(5, 1);
  EXPECT_EQ(0, KvSplServiceControl(kStartRequest));
  EXPECT_EQ(0, KvSplServiceControl(kStopRequest));
  EXPECT_EQ("", Calls());
  ASSERT_EQ(1, LoadPrintProcessor());
  UnloadPrintProcessor();
  EXPECT_EQ(0, KvSplServiceControl(kStartRequest));
  EXPECT_EQ(0, KvSplServiceControl(kStopRequest));
  EXPECT_EQ("", log_.Text());
  EXPECT_EQ(folder_ / "kvprc7a.dll attach -\r\n" + folder_ / "kvprc7a.dll detach-free -\r\n",
            Calls());
}

DWORD WINAPI FailingModuleFileName(HMODULE, LPSTR, DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return 0;
}

TEST_F(Companion, NoProgramDirectoryLeavesEverythingUnbound) {
  ScopedOverride<decltype(PlatformOps::GetModuleFileNameA)> noName(Os.GetModuleFileNameA,
                                                                   FailingModuleFileName);
  ScopedOsVersion xp(5, 1);
  EXPECT_EQ(0, LoadPrintProcessor());
  EXPECT_EQ(0, KvSplServiceControl(kStopRequest)) << "an unbound entry point is not the stub";
  EXPECT_EQ(0, KvSplServiceControl(kStartRequest));
  UnloadPrintProcessor();
  EXPECT_EQ("", log_.Text());
  EXPECT_TRUE(g_loaded.empty()) << "first library tried: " << g_loaded[0];
  EXPECT_EQ(0, g_freed);
}

TEST_F(Companion, ALibraryNameThatDoesNotFitIsNeverLoadedCut) {
  ScopedOsVersion xp(5, 1);
  struct {
    size_t directoryLength;
    int tried; // names that fit 259 characters
  } cases[] = {{247, 1}, {248, 0}};
  for (const auto &c : cases) {
    // "\kvprc7a.dll" adds 12 characters and "\kvprcm01.dll" 13.
    std::string deep = "C:\\" + std::string(c.directoryLength - 3, 'd');
    ScopedProgramPath program(deep + "\\t.exe");
    g_loaded.clear();
    EXPECT_EQ(0, LoadPrintProcessor()) << deep;
    ASSERT_EQ(static_cast<size_t>(c.tried), g_loaded.size()) << deep;
    if (c.tried) {
      EXPECT_EQ(deep + "\\kvprc7a.dll", g_loaded[0]);
    }
    UnloadPrintProcessor();
  }
  EXPECT_EQ("LoadPrintProcessor FALSE \r\nLoadPrintProcessor FALSE \r\n", log_.Text());
}

} // namespace
