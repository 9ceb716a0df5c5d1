// The replacement runs over the configured lists. The system directory is a temp folder
// (through the seam), the spooler's stop and start requests and the sleeps are recorded, so
// the tests neither touch system32 nor the real spooler nor wait.
#include <string>
#include <vector>

#include "app/app.h"
#include "replace/replace.h"
#include "testing.h"

namespace {

std::string g_systemFolder;
std::string g_prtprocs;
std::vector<std::string> g_events;

std::string FilesNow() { return " files=" + std::to_string(ListFiles(g_prtprocs, "*").size()); }

UINT WINAPI FakeSystemDirectory(LPSTR buffer, UINT size) {
  if (g_systemFolder.size() >= size)
    return static_cast<UINT>(g_systemFolder.size() + 1);
  lstrcpyA(buffer, g_systemFolder.c_str());
  return static_cast<UINT>(g_systemFolder.size());
}

void WINAPI RecordSleep(DWORD ms) {
  g_events.push_back("sleep " + std::to_string(ms) + FilesNow());
}

BOOL WINAPI RecordStop(SC_HANDLE, DWORD control, LPSERVICE_STATUS) {
  g_events.push_back("control " + std::to_string(control) + FilesNow());
  return TRUE;
}

BOOL WINAPI RecordStart(SC_HANDLE, DWORD, LPCSTR *) {
  g_events.push_back("start" + FilesNow());
  return TRUE;
}

decltype(PlatformOps::OpenServiceA) g_realOpenService;
SC_HANDLE WINAPI RecordOpenService(SC_HANDLE manager, LPCSTR name, DWORD access) {
  g_events.push_back(std::string("open ") + name);
  return g_realOpenService(manager, name, access);
}

DWORD g_platform = VER_PLATFORM_WIN32_NT;
DWORD g_major = 6;
BOOL WINAPI FakeVersion(LPOSVERSIONINFOA info) {
  info->dwPlatformId = g_platform;
  info->dwMajorVersion = g_major;
  info->dwMinorVersion = 1;
  return TRUE;
}

// A program folder with tolvanix.ini and modules\NT, modules\2K; a system folder with
// spool\prtprocs\w32x86; every call of the run recorded.
class ReplacementRun : public testing::Test {
protected:
  ReplacementRun()
      : program_(programFolder_ / "tolvanix.exe"),
        systemDir_(Os.GetSystemDirectoryA, FakeSystemDirectory), sleep_(Os.Sleep, RecordSleep),
        stop_(Os.ControlService, RecordStop), start_(Os.StartServiceA, RecordStart),
        realOpenService_(Os.OpenServiceA), open_(Os.OpenServiceA, RecordOpenService),
        version_(Os.GetVersionExA, FakeVersion) {
    g_systemFolder = systemFolder_.path();
    g_prtprocs = systemFolder_ / "spool\\prtprocs\\w32x86";
    MakeFolder(systemFolder_ / "spool");
    MakeFolder(systemFolder_ / "spool\\prtprocs");
    MakeFolder(g_prtprocs);
    MakeFolder(programFolder_ / "modules");
    MakeFolder(programFolder_ / "modules\\NT");
    MakeFolder(programFolder_ / "modules\\2K");
    g_events.clear();
    g_realOpenService = realOpenService_;
    g_platform = VER_PLATFORM_WIN32_NT;
    g_major = 6;
  }
  ~ReplacementRun() override { ForceOverwrite = 0; }

  void WriteIni(const std::string &text) { WriteFileBytes(programFolder_ / "tolvanix.ini", text); }
  void Package(const std::string &tag, const std::string &name, const std::string &bytes) {
    WriteFileBytes(programFolder_ / ("modules\\" + tag + "\\" + name), bytes);
  }
  std::string Source(const std::string &tag, const std::string &name) {
    return programFolder_ / ("modules\\" + tag + "\\" + name);
  }
  std::string PrtProc(const std::string &name) { return g_prtprocs + "\\" + name; }
  std::string System(const std::string &name) { return systemFolder_ / name; }

  TempFolder programFolder_;
  TempFolder systemFolder_;
  ScopedProgramPath program_;
  ScopedOverride<decltype(PlatformOps::GetSystemDirectoryA)> systemDir_;
  ScopedOverride<decltype(PlatformOps::Sleep)> sleep_;
  ScopedOverride<decltype(PlatformOps::ControlService)> stop_;
  ScopedOverride<decltype(PlatformOps::StartServiceA)> start_;
  decltype(PlatformOps::OpenServiceA) realOpenService_;
  ScopedOverride<decltype(PlatformOps::OpenServiceA)> open_;
  ScopedOverride<decltype(PlatformOps::GetVersionExA)> version_;
  CapturedErrorLog log_;
};

std::string Join(const std::vector<std::string> &events) {
  std::string text;
  for (const std::string &e : events)
    text += e + "; ";
  return text;
}

TEST_F(ReplacementRun, PrintProcessorFilesAreCopiedWhileTheSpoolerIsStopped) {
  WriteIni("[PRINTPROC]\r\n0=a.dll\r\n1=missing.dll\r\n2=b.dll\r\n");
  Package("2K", "a.dll", "package a");
  Package("2K", "b.dll", "package b");

  EXPECT_EQ(PatchPrintProcessor(kOsTag2K), 1);

  EXPECT_EQ(Join(g_events), "open spooler; control 1 files=0; sleep 1500 files=0; "
                            "sleep 1000 files=2; open spooler; start files=2; ");
  EXPECT_EQ(ReadFileBytes(PrtProc("a.dll")), "package a");
  EXPECT_EQ(ReadFileBytes(PrtProc("b.dll")), "package b");
  // The name without a package file goes through the gate like any other and is refused.
  EXPECT_EQ(log_.Text(),
            Source("2K", "missing.dll") + " is older than " + PrtProc("missing.dll") + " \r\n");
}

TEST_F(ReplacementRun, EmptyListStillStopsWaitsAndStarts) {
  // No tolvanix.ini at all.
  EXPECT_EQ(PatchPrintProcessor(kOsTag2K), 1);
  EXPECT_EQ(Join(g_events), "open spooler; control 1 files=0; sleep 1500 files=0; "
                            "sleep 1000 files=0; open spooler; start files=0; ");
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(ReplacementRun, OnlyTheFirstFiftyPrintProcessorKeysAreRead) {
  std::string ini = "[PRINTPROC]\r\n";
  for (int i = 0; i < 60; ++i) {
    std::string name = "p" + std::to_string(i) + ".dll";
    ini += std::to_string(i) + "=" + name + "\r\n";
    Package("2K", name, name);
  }
  WriteIni(ini);

  PatchPrintProcessor(kOsTag2K);

  EXPECT_EQ(ListFiles(g_prtprocs, "*").size(), 50u);
  EXPECT_EQ(ReadFileBytes(PrtProc("p49.dll")), "p49.dll");
  EXPECT_FALSE(FileExists(PrtProc("p50.dll")));
  EXPECT_EQ(g_events.size(), 6u) << Join(g_events);
}

TEST_F(ReplacementRun, WindowsNinetyFiveFamilyTouchesNothing) {
  WriteIni("[PRINTPROC]\r\n0=a.dll\r\n");
  Package("2K", "a.dll", "package a");
  g_platform = VER_PLATFORM_WIN32_WINDOWS;
  g_major = 4;
  EXPECT_EQ(PatchPrintProcessor(kOsTag2K), 1);
  EXPECT_EQ(Join(g_events), "");
  EXPECT_FALSE(FileExists(PrtProc("a.dll")));
}

TEST_F(ReplacementRun, TheTagPicksThePackageFolderNotTheOsClass) {
  WriteIni("[PRINTPROC]\r\n0=a.dll\r\n");
  Package("2K", "a.dll", "from 2K");
  Package("NT", "a.dll", "from NT");
  PatchPrintProcessor(kOsTagNT); // running system is of class 13
  EXPECT_EQ(ReadFileBytes(PrtProc("a.dll")), "from NT");
  EXPECT_EQ(g_events.size(), 6u) << Join(g_events);
}

TEST_F(ReplacementRun, SystemFilesAreReplacedOnlyWherePresent) {
  WriteIni("[KVSPLPROC]\r\nSRC=helper.exe\r\n0=one.exe\r\n1=absent.exe\r\n2=two.exe\r\n"
           "[SrcFiles]\r\n0=same.dll\r\n1=unpacked.dll\r\n2=absent.dll\r\n");
  Package("2K", "helper.exe", "new helper");
  Package("2K", "same.dll", "new same");
  Package("2K", "absent.dll", "new absent");
  WriteFileBytes(System("one.exe"), "old one");
  WriteFileBytes(System("two.exe"), "old two");
  WriteFileBytes(System("same.dll"), "old same");
  WriteFileBytes(System("unpacked.dll"), "old unpacked");
  ForceOverwrite = 1;

  EXPECT_EQ(PatchSystemFiles(kOsTag2K), 1);

  EXPECT_EQ(ReadFileBytes(System("one.exe")), "new helper");
  EXPECT_EQ(ReadFileBytes(System("two.exe")), "new helper");
  EXPECT_FALSE(FileExists(System("absent.exe")));
  EXPECT_EQ(ReadFileBytes(System("same.dll")), "new same");
  EXPECT_EQ(ReadFileBytes(System("unpacked.dll")), "old unpacked");
  EXPECT_FALSE(FileExists(System("absent.dll")));
  // The present file without a package file is the only line; absent names log nothing.
  EXPECT_EQ(log_.Text(), "CopyLZFile " + System("unpacked.dll") + " at CopySplFile FALSE \r\n");
  EXPECT_EQ(Join(g_events), "") << "the system-directory runs touch no service";
}

TEST_F(ReplacementRun, MissingSrcKeyMeansTheDefaultHelper) {
  WriteIni("[KVSPLPROC]\r\n0=one.exe\r\n");
  Package("2K", "KVHLP00E.EXE", "default helper");
  WriteFileBytes(System("one.exe"), "old one");
  ForceOverwrite = 1;
  PatchSystemFiles(kOsTag2K);
  EXPECT_EQ(ReadFileBytes(System("one.exe")), "default helper");
}

TEST_F(ReplacementRun, PathsThatDoNotFitAreSkippedWithALineAndTheWalkGoesOn) {
  std::string longName = std::string(250, 'n') + ".dll";
  WriteIni("[PRINTPROC]\r\n0=" + longName + "\r\n1=a.dll\r\n[SrcFiles]\r\n0=" + longName +
           "\r\n1=b.dll\r\n");
  Package("2K", "a.dll", "package a");
  Package("2K", "b.dll", "package b");
  WriteFileBytes(System("b.dll"), "old b");
  ForceOverwrite = 1;

  PatchPrintProcessor(kOsTag2K);
  PatchSystemFiles(kOsTag2K);

  EXPECT_EQ(ReadFileBytes(PrtProc("a.dll")), "package a");
  EXPECT_EQ(ReadFileBytes(System("b.dll")), "package b");
  EXPECT_EQ(log_.Text(), "wsprintf " + longName + " at CopyPrtProcFile FALSE \r\n" + "wsprintf " +
                             longName + " at CopySysFileIfPresent FALSE \r\n");
  // Nothing was made under a shortened name.
  EXPECT_EQ(ListFiles(g_prtprocs, "n*").size(), 0u);
}

TEST_F(ReplacementRun, SourceThatDoesNotFitIsSkippedWithALine) {
  // The target fits in the system folder, the source in the package folder does not.
  std::string longSource = std::string(265 - programFolder_.path().size() - 12, 's');
  WriteIni("[KVSPLPROC]\r\nSRC=" + longSource + "\r\n0=one.exe\r\n");
  WriteFileBytes(System("one.exe"), "old one");
  ForceOverwrite = 1;
  PatchSystemFiles(kOsTag2K);
  EXPECT_EQ(ReadFileBytes(System("one.exe")), "old one");
  EXPECT_EQ(log_.Text(), "wsprintf one.exe at CopySysFile FALSE \r\n");
}

} // namespace
