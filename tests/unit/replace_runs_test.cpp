// The replacement runs where a patch run cannot take them: names whose paths do not fit, and
// the default helper of a [KVSPLPROC] list without SRC. The system directory is a temp folder
// (through the seam); the spooler's requests and the sleeps are answered without being made.
#include <string>

#include "app/app.h"
#include "replace/replace.h"
#include "testing.h"

namespace {

std::string g_systemFolder;

UINT WINAPI FakeSystemDirectory(LPSTR buffer, UINT size) {
  if (g_systemFolder.size() >= size)
    return static_cast<UINT>(g_systemFolder.size() + 1);
  lstrcpyA(buffer, g_systemFolder.c_str());
  return static_cast<UINT>(g_systemFolder.size());
}
void WINAPI NoSleep(DWORD) {}
BOOL WINAPI NoStop(SC_HANDLE, DWORD, LPSERVICE_STATUS) { return TRUE; }
BOOL WINAPI NoStart(SC_HANDLE, DWORD, LPCSTR *) { return TRUE; }
BOOL WINAPI FakeVersion(LPOSVERSIONINFOA info) {
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->dwMajorVersion = 6;
  info->dwMinorVersion = 1;
  return TRUE;
}

// A program folder with tolvanix.ini and modules\2K; a system folder with
// spool\prtprocs\w32x86; every copy forced, so only the paths decide.
class ReplacementRun : public testing::Test {
protected:
  ReplacementRun()
      : program_(programFolder_ / "tolvanix.exe"),
        systemDir_(Os.GetSystemDirectoryA, FakeSystemDirectory), sleep_(Os.Sleep, NoSleep),
        stop_(Os.ControlService, NoStop), start_(Os.StartServiceA, NoStart),
        version_(Os.GetVersionExA, FakeVersion) {
    g_systemFolder = systemFolder_.path();
    MakeFolder(systemFolder_ / "spool");
    MakeFolder(systemFolder_ / "spool\\prtprocs");
    MakeFolder(systemFolder_ / "spool\\prtprocs\\w32x86");
    MakeFolder(programFolder_ / "modules");
    MakeFolder(programFolder_ / "modules\\2K");
    ForceOverwrite = 1;
  }
  ~ReplacementRun() override { ForceOverwrite = 0; }

  void WriteIni(const std::string &text) { WriteFileBytes(programFolder_ / "tolvanix.ini", text); }
  void Package(const std::string &name, const std::string &bytes) {
    WriteFileBytes(programFolder_ / ("modules\\2K\\" + name), bytes);
  }
  std::string System(const std::string &name) { return systemFolder_ / name; }

  TempFolder programFolder_;
  TempFolder systemFolder_;
  ScopedProgramPath program_;
  ScopedOverride<decltype(PlatformOps::GetSystemDirectoryA)> systemDir_;
  ScopedOverride<decltype(PlatformOps::Sleep)> sleep_;
  ScopedOverride<decltype(PlatformOps::ControlService)> stop_;
  ScopedOverride<decltype(PlatformOps::StartServiceA)> start_;
  ScopedOverride<decltype(PlatformOps::GetVersionExA)> version_;
  CapturedErrorLog log_;
};

TEST_F(ReplacementRun, MissingSrcKeyMeansTheDefaultHelper) {
  WriteIni("[KVSPLPROC]\r\n0=one.exe\r\n");
  Package("KVHLP00E.EXE", "default helper");
  WriteFileBytes(System("one.exe"), "old one");
  PatchSystemFiles(kOsTag2K);
  EXPECT_EQ(ReadFileBytes(System("one.exe")), "default helper");
}

TEST_F(ReplacementRun, PathsThatDoNotFitAreSkippedWithALineAndTheWalkGoesOn) {
  std::string longName = std::string(250, 'n') + ".dll";
  WriteIni("[PRINTPROC]\r\n0=" + longName + "\r\n1=a.dll\r\n[SrcFiles]\r\n0=" + longName +
           "\r\n1=b.dll\r\n");
  Package("a.dll", "package a");
  Package("b.dll", "package b");
  WriteFileBytes(System("b.dll"), "old b");

  PatchPrintProcessor(kOsTag2K);
  PatchSystemFiles(kOsTag2K);

  std::string prtprocs = System("spool\\prtprocs\\w32x86");
  EXPECT_EQ(ReadFileBytes(prtprocs + "\\a.dll"), "package a");
  EXPECT_EQ(ReadFileBytes(System("b.dll")), "package b");
  EXPECT_EQ(log_.Text(), "wsprintf " + longName + " at CopyPrtProcFile FALSE \r\n" + "wsprintf " +
                             longName + " at CopySysFileIfPresent FALSE \r\n");
  // Nothing was made under a shortened name.
  EXPECT_EQ(ListFiles(prtprocs, "n*").size(), 0u);
}

TEST_F(ReplacementRun, SourceThatDoesNotFitIsSkippedWithALine) {
  // The target fits in the system folder, the source in the package folder does not.
  std::string longSource = std::string(265 - programFolder_.path().size() - 12, 's');
  WriteIni("[KVSPLPROC]\r\nSRC=" + longSource + "\r\n0=one.exe\r\n");
  WriteFileBytes(System("one.exe"), "old one");
  PatchSystemFiles(kOsTag2K);
  EXPECT_EQ(ReadFileBytes(System("one.exe")), "old one");
  EXPECT_EQ(log_.Text(), "wsprintf one.exe at CopySysFile FALSE \r\n");
}

} // namespace
