// The companion library binding, against real libraries loaded from a real program folder.
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

// Makes GetOsClass see NT 4.0 (4.0), Windows 2000 (5.0) or XP (5.1).
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
HMODULE WINAPI RecordingLoadLibrary(LPCSTR name) {
  g_loaded.push_back(name);
  return LoadLibraryA(name);
}

int g_freed;
BOOL WINAPI CountingFreeLibrary(HMODULE module) {
  ++g_freed;
  return FreeLibrary(module);
}

// A program folder of its own, an error log, and the file the companion stand-ins record
// their attach, calls and detach in. Every test ends with the library unloaded.
class Companion : public testing::Test {
protected:
  Companion()
      : program_(folder_ / "tolvanix.exe"), load_(Os.LoadLibraryA, RecordingLoadLibrary),
        free_(Os.FreeLibrary, CountingFreeLibrary) {
    calls_ = folder_ / "calls.txt";
    SetEnvironmentVariableA("TOLVANIX_COMPANION_CALLS", calls_.c_str());
    g_loaded.clear();
    g_freed = 0;
  }
  ~Companion() override {
    UnloadPrintProcessor();
    SetEnvironmentVariableA("TOLVANIX_COMPANION_CALLS", nullptr);
  }

  void Place(const char *variant, const char *asName) {
    if (!variant)
      return;
    std::string from = FixturePath("companion", std::string(variant) + ".dll");
    ASSERT_TRUE(CopyFileA(from.c_str(), (folder_ / asName).c_str(), FALSE))
        << "copy " << from << " error " << GetLastError();
  }
  std::string Calls() const { return ReadFileBytes(calls_); }

  TempFolder folder_;
  ScopedProgramPath program_;
  CapturedErrorLog log_;
  ScopedOverride<decltype(PlatformOps::LoadLibraryA)> load_;
  ScopedOverride<decltype(PlatformOps::FreeLibrary)> free_;
  std::string calls_;
};

struct BindingCase {
  const char *title;
  const char *primary;   // variant placed as kvprc7a.dll, or none
  const char *secondary; // variant placed as kvprcm01.dll, or none
  DWORD major, minor;
  int loadResult;
  int filesTried;
  int stopResult, startResult;
  const char *calls; // attach, stop then start request, detach
  const char *log;
};

const BindingCase kBindingCases[] = {
    {"first library with both exports", "companion_both", nullptr, 5, 1, 1, 1, 1, 1,
     "companion_both attach\ncompanion_both UninstService\ncompanion_both InstService\n"
     "companion_both detach\n",
     ""},
    {"second library alone", nullptr, "companion_both", 5, 1, 1, 2, 1, 1,
     "companion_both attach\ncompanion_both UninstService\ncompanion_both InstService\n"
     "companion_both detach\n",
     ""},
    {"first library wins even without the exports", "companion_no_exports", "companion_both", 5, 1,
     1, 1, 0, 0, "companion_no_exports attach\ncompanion_no_exports detach\n",
     "sstop at  KvSplServiceControl FALSE \r\nsstart at  KvSplServiceControl FALSE \r\n"},
    {"second library when the first refuses to load", "companion_refuses", "companion_five", 5, 1,
     1, 2, 5, 5,
     "companion_refuses attach\ncompanion_five attach\ncompanion_five UninstService\n"
     "companion_five InstService\ncompanion_five detach\n",
     ""},
    {"only InstService exported", "companion_inst_only", nullptr, 5, 1, 1, 1, 0, 1,
     "companion_inst_only attach\ncompanion_inst_only InstService\ncompanion_inst_only detach\n",
     "sstop at  KvSplServiceControl FALSE \r\n"},
    {"exports that fail", "companion_zero", nullptr, 5, 1, 1, 1, 0, 0,
     "companion_zero attach\ncompanion_zero UninstService\ncompanion_zero InstService\n"
     "companion_zero detach\n",
     "sstop at  KvSplServiceControl FALSE \r\nsstart at  KvSplServiceControl FALSE \r\n"},
    {"neither library", nullptr, nullptr, 5, 1, 0, 2, 0, 0, "",
     "LoadPrintProcessor FALSE \r\nsstop at  KvSplServiceControl FALSE \r\n"
     "sstart at  KvSplServiceControl FALSE \r\n"},
    {"Windows 2000 loads but calls nothing", "companion_both", nullptr, 5, 0, 1, 1, 0, 0,
     "companion_both attach\ncompanion_both detach\n",
     "not XP  KvSplServiceControl FALSE \r\nnot XP  KvSplServiceControl FALSE \r\n"},
    {"NT 4.0 loads but calls nothing", "companion_both", nullptr, 4, 0, 1, 1, 0, 0,
     "companion_both attach\ncompanion_both detach\n",
     "not XP  KvSplServiceControl FALSE \r\nnot XP  KvSplServiceControl FALSE \r\n"},
    {"NT 4.0 without a library", nullptr, nullptr, 4, 0, 0, 2, 0, 0, "",
     "LoadPrintProcessor FALSE \r\nnot XP  KvSplServiceControl FALSE \r\n"
     "not XP  KvSplServiceControl FALSE \r\n"},
};

TEST(CompanionBinding, EachBindingLoadsCallsAndUnloadsAsItsLibrariesAllow) {
  ScopedOverride<decltype(PlatformOps::LoadLibraryA)> load(Os.LoadLibraryA, RecordingLoadLibrary);
  ScopedOverride<decltype(PlatformOps::FreeLibrary)> free(Os.FreeLibrary, CountingFreeLibrary);
  for (const BindingCase &c : kBindingCases) {
    SCOPED_TRACE(c.title);
    TempFolder folder;
    ScopedProgramPath program(folder / "tolvanix.exe");
    CapturedErrorLog log;
    std::string calls = folder / "calls.txt";
    SetEnvironmentVariableA("TOLVANIX_COMPANION_CALLS", calls.c_str());
    g_loaded.clear();
    g_freed = 0;
    for (auto placed :
         {std::make_pair(c.primary, "kvprc7a.dll"), std::make_pair(c.secondary, "kvprcm01.dll")}) {
      if (!placed.first)
        continue;
      std::string from = FixturePath("companion", std::string(placed.first) + ".dll");
      ASSERT_TRUE(CopyFileA(from.c_str(), (folder / placed.second).c_str(), FALSE))
          << "copy " << from << " error " << GetLastError();
    }
    ScopedOsVersion version(c.major, c.minor);

    EXPECT_EQ(c.loadResult, LoadPrintProcessor());
    int stop = KvSplServiceControl(kStopRequest);
    int start = KvSplServiceControl(kStartRequest);
    UnloadPrintProcessor();

    EXPECT_EQ(c.stopResult, stop);
    EXPECT_EQ(c.startResult, start);
    EXPECT_EQ(c.calls, ReadFileBytes(calls));
    EXPECT_EQ(c.log, log.Text());
    std::vector<std::string> tried;
    tried.push_back(folder / "kvprc7a.dll");
    tried.push_back(folder / "kvprcm01.dll");
    tried.resize(c.filesTried);
    EXPECT_EQ(tried, g_loaded) << "library names given to LoadLibraryA";
    EXPECT_EQ(c.loadResult, g_freed) << "FreeLibrary calls";
  }
  SetEnvironmentVariableA("TOLVANIX_COMPANION_CALLS", nullptr);
}

TEST_F(Companion, RequestsOtherThanStartAndStopComeBackUnchangedOnXpOnly) {
  Place("companion_both", "kvprc7a.dll");
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
  EXPECT_EQ("companion_both attach\n", Calls()) << "nothing but the load may reach the library";
}

TEST_F(Companion, RequestsBeforeAnyLoadCallNothingAndLogNothing) {
  Place("companion_both", "kvprc7a.dll");
  ScopedOsVersion xp(5, 1);
  EXPECT_EQ(0, KvSplServiceControl(kStartRequest));
  EXPECT_EQ(0, KvSplServiceControl(kStopRequest));
  EXPECT_EQ("", log_.Text());
  EXPECT_EQ("", Calls());
}

DWORD WINAPI FailingModuleFileName(HMODULE, LPSTR, DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return 0;
}

TEST_F(Companion, NoProgramDirectoryLeavesEverythingUnbound) {
  Place("companion_both", "kvprc7a.dll");
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
    ScopedProgramPath program(deep + "\\tolvanix.exe");
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

TEST_F(Companion, NoRequestReachesTheLibraryAfterItIsUnloaded) {
  Place("companion_both", "kvprc7a.dll");
  ScopedOsVersion xp(5, 1);
  ASSERT_EQ(1, LoadPrintProcessor());
  UnloadPrintProcessor();
  EXPECT_EQ(0, KvSplServiceControl(kStartRequest));
  EXPECT_EQ(0, KvSplServiceControl(kStopRequest));
  EXPECT_EQ("", log_.Text());
  EXPECT_EQ("companion_both attach\ncompanion_both detach\n", Calls());
}

} // namespace
