// The run control: the mode, the Windows class and the program's folder.
#include "testing.h"

#include <sddl.h>

using namespace std::string_literals;

static std::string g_seen;
// '9' 98, '5' 95, '4' NT 4.0, 'n' NT 3.51, '2' 2000, 'x' XP, '3' 2003, '7' 7, 'w' 10, else fails.
static char g_windows;
static BOOL WINAPI FakeVersion(LPOSVERSIONINFOA v) {
  static const DWORD kVersions[][3] = {{1, 4, 10}, {1, 4, 0}, {2, 4, 0}, {2, 3, 51}, {2, 5, 0},
                                       {2, 5, 1},  {2, 5, 2}, {2, 6, 1}, {2, 10, 0}};
  size_t at = std::string("954n2x37w").find(g_windows);
  return at != std::string::npos &&
         (v->dwPlatformId = kVersions[at][0], v->dwMajorVersion = kVersions[at][1],
          v->dwMinorVersion = kVersions[at][2], true);
}

// The box is answered Cancel, Notepad never starts, and the patch run finds nothing to do. Seen
// in order: the service manager asked (#), the waits (~ms), Notepad, the box, the exit code.
TEST(Run, TheModeIsTheFirstSwitchLetterElseTheFileNamesAndWindows98RunsNone) {
  // Program, arguments, the mode, Windows, [tolvanix] line (null: no ini), exit; /QUIET: no box.
  // clang-format off
  struct Row { const char *file, *args; char mode, os = 'x'; const char *ini = "Manufacturer=Acme";
               int exit = 0; } rows[] = {
      {"Lpatch.exe", "", 'L'}, {"uninst.exe", "", 'U'}, {"Verinfo.exe", "", 'V'},
      {"Diag.exe", "", 'D'}, {"Setup.exe", "", 'P', '7'}, {"vcheck.exe", "", 'V', '2', ""},
      {"setup.exe", "/V", 'V', '4', "Manufacturer="}, {"setup.exe", "/u", 'U', '7', nullptr},
      {"setup.exe", "/L", 'L'}, {"setup.exe", "/D", 'D'}, {"setup.exe", "/Ver", 'V'},
      {"Diag.exe", "/U", 'U'}, {"vcheck.exe", "/l", 'L'}, {"setup.exe", "abc/vxyz", 'V'},
      {"Diag.exe", "/", 'D'}, {"Verinfo.exe", "x /", 'V'}, {"Diag.exe", "/ D", 'P'},
      {"Diag.exe", "/OS=NT /D", 'P'}, {"setup.exe", "/d /OS=2000 /OS=NT", 'D'},
      {"Diag.exe", "/os=2000", 'P'}, {"Diag.exe", "/FOW", 'P'}, {"Diag.exe", "/\xC4", 'P'},
      {"setup.exe", "/V /QUIET", 'V', 'x', "", 0}, {"setup.exe", "/QUIET", 'P', 'x', "", 0},
      {"setup.exe", "/U /quiet", 'U', 'x', "", 3010}, {"setup.exe", "/D /QUIET", 'D', 'x', "", 0},
      {"setup.exe", "/Quiet", 'P', 'x', nullptr, 1619}, {"setup.exe", "/L /quiet", 'L', '2', "", 0},
      // No modules\NT, and a failure: the package is unusable (the 64-bit program reads X64).
      {"setup.exe", "/QUIET", 'P', '4', "[PRINTPROC]\r\n0=NUL", sizeof(void *) == 8 ? 1603 : 1619}};
  // clang-format on
  SEAM(GetModuleFileNameA, FakeModuleName);
  SEAM(GetVersionExA, FakeVersion);
  SEAM(MessageBoxA, [](HWND, LPCSTR text, LPCSTR caption, UINT)
                        WINAPI { return g_seen += text + ("|" + std::string(caption)), IDCANCEL; });
  SEAM(CreateProcessA,
       [](LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
          LPSTARTUPINFOA, LPPROCESS_INFORMATION) WINAPI { return g_seen += "+notepad", FALSE; });
  SEAM(Sleep, [](DWORD ms) WINAPI { g_seen += "~" + std::to_string(ms); });
  SEAM(OpenSCManagerA,
       [](LPCSTR, LPCSTR, DWORD) WINAPI -> SC_HANDLE { return g_seen += "#", nullptr; });
  MakePackageFolders(g_scratch + "\\"), MakePackageFolders(g_scratch + "\\none\\");
  RemoveDirectoryA((g_scratch + "\\modules\\NT").c_str());
  for (const Row &r : rows)
    for (char os : {r.os, '9'}) {
      WriteFileBytes(g_scratch + "\\tolvanix.ini",
                     "[tolvanix]\r\n" + std::string(r.ini ? r.ini : ""));
      g_program = g_scratch + (r.ini ? "\\" : "\\none\\") + r.file, g_seen = "", g_windows = os;
      DeleteFileA((g_temp + "tolvanix.log").c_str());
      g_seen += std::to_string(RunTolvanix(GetModuleHandleA(nullptr), r.args));
      std::string args = r.args + std::string(1, 0); // CharUpperA takes no empty text
      bool quiet = strstr(CharUpperA(&args[0]), "/QUIET") != nullptr;
      char mode = os == '9' || quiet ? '-' : r.mode, text[300];
      int id = mode == 'V' ? 1 : mode == 'U' ? 4 : mode == 'P' || mode == 'L' ? 3 : 0;
      std::string maker = r.ini && *r.ini ? r.ini + 13 : "Kestova", want; // after "Manufacturer="
      if (LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text))
        want = text + ("|" + maker) + " PrintProcessor patch";
      // The spooler is told to stop, then to start once the print processors are in place.
      char run = os == '9' ? '-' : r.mode;
      // A quiet run asks first whether the spooler runs, to see it run again at the end.
      std::string before = run == 'P' || run == 'L' ? (quiet ? "##~1500~1000#" : "#~1500~1000#")
                           : run == 'D'             ? "#"
                                                    : "";
      EXPECT_EQ(g_seen, before +
                            (mode == 'L'   ? "+notepad~2000"
                             : mode == 'D' ? "+notepad"
                                           : "") +
                            want + std::to_string(os == '9' ? 0 : r.exit))
          << r.file << " " << r.args << " on " << os;
      EXPECT_EQ(ReadFileBytes(g_temp + "tolvanix.log") != "", os != '9' && r.mode == 'D') << r.args;
    }
}

// "/LOG=FILE" in any case, anywhere: FILE runs to the next blank (or tab), or between double
// quotes; the first counts, an overlong one is empty, and no option is found inside FILE. Each
// row: the arguments, then the tag ("-" none), /FOW, /QUIET, /LOG and FILE. A FILE that cannot
// be made stops the run before anything is done (the service manager, #, is never asked):
// quiet 1622, else one OK box and 0; nothing is left behind.
static std::string g_boxes;
TEST(Run, TheLogsFileIsANameNoOptionIsFoundInAndOneThatCannotBeMadeStopsTheRun) {
  const std::string longName = "C:\\" + std::string(256, 'a') + ".log", dir = NewFolder();
  // clang-format off
  for (const auto &r : std::vector<std::pair<std::string, std::string>>{
      {"/LOG=C:\\l\\a.log /QUIET", "- 0 1 1 C:\\l\\a.log"},
      {"/d /log=\"C:\\My /QUIET\\x/FOW.log\" /OS=NT", "NT 0 0 1 C:\\My /QUIET\\x/FOW.log"},
      {"/LOG=x/FOW/quiet/OS=2000", "- 0 0 1 x/FOW/quiet/OS=2000"},
      {"/Log=C:\\a.log/OS=NT\t/FOW", "- 1 0 1 C:\\a.log/OS=NT"},
      {"/QUIET/LOG=\"C:\\a b", "- 0 1 1 C:\\a b"}, {"/LOGX=a /OS=2000", "2K 0 0 0 "},
      {"/OS=2000 /LOG= /LOG=b /FOW", "2K 1 0 1 "}, {"/LOG=" + longName + " /quiet", "- 0 1 1 "},
      {"/LOG=\"" + longName.substr(4) + "\"", "- 0 0 1 " + longName.substr(4)}}) {
    // clang-format on
    RunOptions o = {};
    ApplyOptions(r.first.c_str(), &o);
    EXPECT_EQ(std::string(*o.tag.text ? o.tag.text : "-") + " " + std::to_string(o.force) + " " +
                  std::to_string(o.quiet) + " " + std::to_string(o.log) + " " + o.logFile,
              r.second)
        << r.first;
  }
  MakePackageFolders(dir + "\\"), CreateDirectoryA((dir + "\\sub").c_str(), nullptr);
  WriteFileBytes(dir + "\\ro.log", "old"), SetFileAttributesA((dir + "\\ro.log").c_str(), 1);
  SEAM(GetModuleFileNameA, FakeModuleName);
  SEAM(MessageBoxA, [](HWND, LPCSTR text, LPCSTR caption, UINT type) WINAPI {
    return g_boxes += std::to_string(type) + text + "|" + caption, IDCANCEL;
  });
  SEAM(OpenSCManagerA,
       [](LPCSTR, LPCSTR, DWORD) WINAPI -> SC_HANDLE { return g_boxes += "#", nullptr; });
  g_program = dir + "\\setup.exe";
  for (const std::string &file : {"x.log"s, "C:x.log"s, dir + "\\none\\x.log", dir + "\\NUL",
                                  dir + "\\", dir + "\\sub", dir + "\\ro.log", ""s})
    for (const char *quiet : {" /QUIET", ""}) {
      int exit =
          (g_boxes = "", RunTolvanix(GetModuleHandleA(nullptr), ("/LOG=" + file + quiet).c_str()));
      EXPECT_EQ(g_boxes + "=" + std::to_string(exit),
                *quiet ? "=1622"
                       : "0The log file cannot be created:\n" + file +
                             "\nNothing was changed.|Kestova PrintProcessor patch=0")
          << file << quiet;
    }
  WIN32_FIND_DATAA found;
  EXPECT_EQ(FindFirstFileA((dir + "\\KPP*").c_str(), &found), INVALID_HANDLE_VALUE);
}

// Quiet exit codes: the first of 1618, 1619, 1603, 3010 that applies, else 0; a spooler that ran
// at the start and is not running 30 s after the end is a failure, and so is a companion export
// that faulted. Rows: the spooler's states (R running, S stopped, the last repeats; only its
// query gets a manager), ms slept, code, line.
static std::string g_states;
static size_t g_asked, g_slept;
TEST(Run, TheQuietExitCodeIsTheFirstThatAppliesAndASpoolerThatStaysStoppedIsAFailure) {
  // clang-format off
  for (auto [o, code] : {std::pair(RunOutcome{1, 2, 0, 1, 1, 1, 1}, 1618),
                         {{1, 2, 0, 1, 1, 0, 1}, 1619}, {{1, 2, 0, 0, 0, 0, 0}, 1603},
                         {{0, 0, 0, 0, 1, 0, 0}, 1603}, {{0, 2, 1, 0, 0, 0, 1}, 1603},
                         {{0, 2, 1, 0, 0, 0, 0}, 3010}, {{0, 0, 3, 0, 0, 0, 0}, 0}})
    // clang-format on
    EXPECT_EQ(PatchExitCode(o), code) << code;
  SEAM(GetModuleFileNameA, FakeModuleName);
  SEAM(OpenSCManagerA,
       [](LPCSTR, LPCSTR, DWORD a) WINAPI { return (SC_HANDLE)(a == SC_MANAGER_CONNECT); });
  SEAM(OpenServiceA, [](SC_HANDLE, LPCSTR, DWORD) WINAPI { return (SC_HANDLE)2; });
  SEAM(CloseServiceHandle, [](SC_HANDLE) WINAPI { return TRUE; });
  SEAM(QueryServiceStatus, [](SC_HANDLE, LPSERVICE_STATUS s) WINAPI {
    char state = g_states[std::min(g_asked++, g_states.size() - 1)];
    return s->dwCurrentState = state == 'R' ? SERVICE_RUNNING : SERVICE_STOPPED, TRUE;
  });
  SEAM(Sleep, [](DWORD ms) WINAPI { g_slept += ms; });
  std::string dir = NewFolder(), kept = g_temp + "tolvanix-errors.log";
  MakePackageFolders(dir + "\\");
  WriteFileBytes(dir + "\\tolvanix.ini", "[tolvanix]\r\n");
  for (auto [states, seen] : {std::pair<std::string, std::string>("S", "2500 0 0"),
                              {"RSSR", "3500 0 0"},
                              {"RS", "32500 1603 1"}}) {
    g_states = states, g_asked = 0, g_slept = 0, g_program = dir + "\\setup.exe";
    std::string code = std::to_string(RunTolvanix(GetModuleHandleA(nullptr), "/L /QUIET"));
    size_t line = ReadFileBytes(kept).find("WaitSpoolService spooler FALSE \r\n");
    EXPECT_EQ(std::to_string(g_slept) + " " + code + " " + (line != std::string::npos ? "1" : "0"),
              seen)
        << states;
  }
}

// Each row: Windows as the fake answers it, then the class.
TEST(Run, TheWindowsClassFollowsThePlatformThenTheVersionAndAFailedQueryGives13) {
  SEAM(GetVersionExA, FakeVersion);
  for (const char *row : {"910", "510", "411", "n13", "212", "x13", "313", "713", "w13", "-13"})
    EXPECT_EQ(std::to_string((g_windows = row[0], GetOsClass())), row + 1) << row[0];
}

// On x64 Windows the 32-bit program starts tolvanix64.exe beside it with the mode its own name
// chose and exits with its code (7 here); without it (or modules\X64), on ARM64 or Itanium, it
// refuses before the service manager is asked: 1633 quiet, else one OK box; so does the 64-bit
// program without modules\X64 or off x64. The processor: 'i' x86, 'a' x64, 'r' ARM64 by
// IsWow64Process2; before it, 'n' no WOW64, 'W' WOW64 on x64, 'I' on Itanium by IsWow64Process
// and GetNativeSystemInfo. Seen: the 64-bit program's command line
// without its folder, the service manager (#), the refusal's box (R), "=" and the exit code.
static char g_cpu;
static std::string g_native;
TEST(Run, On64BitWindowsThe64BitProgramRunsOrNothingIsTouched) {
  // clang-format off
  struct Row { char cpu; const char *file, *args; bool half64, starts; const char *seen; } rows[] = {
#ifdef _WIN64
      {'W', "a.exe", "/U /QUIET", true, true, "=3010"}, // before IsWow64Process2: it patches
#else
      {'a', "Lpatch.exe", "", true, true, "\"\\tolvanix64.exe\" /L =7"},
      {'a', "setup.exe", "", true, true, "\"\\tolvanix64.exe\" =7"},
      {'W', "uninst.exe", "/OS=NT x", true, true, "\"\\tolvanix64.exe\" /OS=NT x=7"},
      {'a', "Lpatch.exe", "/QUIET", true, true, "\"\\tolvanix64.exe\" /QUIET=7"},
      {'a', "setup.exe", "/L /QUIET", true, false, "\"\\tolvanix64.exe\" /L /QUIET=1603"},
      {'W', "a.exe", "/L", true, false, "\"\\tolvanix64.exe\" /LR=0"},
      {'n', "a.exe", "/U /QUIET", 1, 1, "=3010"}, {'i', "a.exe", "/U /QUIET", true, true, "=3010"},
#endif
      {'a', "setup.exe", "/L /QUIET", false, true, "=1633"}, {'a', "a.exe", "/U", 0, 1, "R=0"},
      {'r', "setup.exe", "/D /QUIET", true, true, "=1633"}, {'I', "a.exe", "/QUIET", 1, 1, "=1633"},
      {'a', "setup.exe", "/V /QUIET", false, true, "=0"}};
  // clang-format on
  SEAM(IsWow64Process2, [](HANDLE, USHORT *process, USHORT *native) WINAPI -> BOOL {
    *native = g_cpu == 'i' ? 0x014C : g_cpu == 'a' ? 0x8664 : 0xAA64, *process = 0x014C;
    return strchr("iar", g_cpu) ? TRUE : (SetLastError(ERROR_PROC_NOT_FOUND), FALSE);
  });
  SEAM(IsWow64Process, [](HANDLE, BOOL *wow) WINAPI { return *wow = g_cpu != 'n', TRUE; });
  SEAM(GetNativeSystemInfo, [](SYSTEM_INFO *info) WINAPI {
    info->wProcessorArchitecture = g_cpu == 'I' ? 6 : g_cpu == 'W' ? 9 : 0;
  });
  const std::string with = NewFolder(), without = NewFolder();
  for (const char *folder : {"\\modules", "\\modules\\X64"})
    CreateDirectoryA((with + folder).c_str(), nullptr);
  WriteFileBytes(with + "\\tolvanix64.exe", "MZ");
  static bool starts;
  SEAM(GetModuleFileNameA, FakeModuleName);
  SEAM(MessageBoxA, [](HWND, LPCSTR text, LPCSTR, UINT type) WINAPI {
    return g_native += type == MB_OK ? "R" : text, IDOK; // the text is the e2e row's
  });
  SEAM(CreateProcessA,
       [](LPCSTR name, LPSTR line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL inherit,
          DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION info) WINAPI -> BOOL {
         // By its full name, never searched for, and not handed this program's handles.
         std::string folder = g_program.substr(0, g_program.rfind('\\')), text = line;
         EXPECT_EQ(std::string(name) + std::to_string(inherit), folder + "\\tolvanix64.exe0");
         g_native += text.find(folder) == 1 ? text.erase(1, folder.size()) : text;
         return info->hProcess = info->hThread = nullptr, starts;
       });
  SEAM(WaitForSingleObject, [](HANDLE, DWORD) WINAPI -> DWORD { return WAIT_OBJECT_0; });
  SEAM(GetExitCodeProcess, [](HANDLE, LPDWORD code) WINAPI { return *code = 7, TRUE; });
  SEAM(OpenSCManagerA,
       [](LPCSTR, LPCSTR, DWORD) WINAPI -> SC_HANDLE { return g_native += "#", nullptr; });
  for (const Row &r : rows) {
    g_cpu = r.cpu, starts = r.starts, g_native = "";
    g_program = (r.half64 ? with : without) + "\\" + r.file;
    int exit = RunTolvanix(GetModuleHandleA(nullptr), r.args);
    EXPECT_EQ(g_native + "=" + std::to_string(exit), r.seen) << r.cpu << r.file << r.args;
  }
}

TEST(Run, TheProgramsFolderEndsAtItsNamesLastBackslashAndIsUnknownForACutName) {
  const std::string a = "C:\\" + std::string(249, 'a'); // a + "\\bb.exe" takes 259 characters
  // clang-format off
  const std::string rows[][2] = {{"C:\\Patch\\setup.exe", "1C:\\Patch"}, {"C:\\setup.exe", "1C:"},
      {"\\\\server\\share\\setup.exe", "1\\\\server\\share"}, {"setup.exe", "1"},
      {"C:\\Patch\\\\setup.exe", "1C:\\Patch"}, {a + "\\bb.exe", "1" + a}, {"", "0"},
      {a + "a\\bb.exe", "0"}};
  // clang-format on
  SEAM(GetModuleFileNameA, FakeModuleName);
  for (const auto &r : rows) {
    Path folder = "junk";
    g_program = r[0];
    EXPECT_EQ(std::to_string(GetProgramDirectory(folder)) + folder, r[1]) << r[0];
  }
}

// Each row: whether the token opens, the lookup works, the adjustment leaves an error; then the
// calls seen. Without a token the reboot is still asked for; without the privilege it is not.
static std::string g_calls;
static char g_ok[4];
static BOOL WINAPI Call(const std::string &what, char ok) {
  return g_calls += what + " ", ok == '1';
}
TEST(Run, TheRestartTakesTheShutdownPrivilegeFirstAndWithoutItDoesNotReboot) {
  SEAM(OpenProcessToken, [](HANDLE, DWORD access, PHANDLE token) WINAPI -> BOOL {
    return *token = nullptr, Call("open" + std::to_string(access), g_ok[0]);
  });
  SEAM(LookupPrivilegeValueA, [](LPCSTR at, LPCSTR name, PLUID id) WINAPI -> BOOL {
    return id->LowPart = 19, Call(std::string(at ? "?" : "") + name, g_ok[1]);
  });
  SEAM(AdjustTokenPrivileges,
       [](HANDLE, BOOL all, PTOKEN_PRIVILEGES p, DWORD, PTOKEN_PRIVILEGES, PDWORD) WINAPI -> BOOL {
         SetLastError(g_ok[2] == '1' ? ERROR_NOT_ALL_ASSIGNED : 0);
         return Call("adjust" +
                         std::to_string(all + p->PrivilegeCount + p->Privileges[0].Luid.LowPart +
                                        p->Privileges[0].Attributes),
                     '1');
       });
  SEAM(ExitWindowsEx,
       [](UINT how, DWORD x) WINAPI { return Call("reboot" + std::to_string(how + x), '1'); });
  for (const char *row :
       {"110open40 SeShutdownPrivilege adjust22 reboot2 ", "0xxopen40 reboot2 ",
        "100open40 SeShutdownPrivilege ", "111open40 SeShutdownPrivilege adjust22 "}) {
    lstrcpynA(g_ok, row, 4), g_calls = "", RestartComputer();
    EXPECT_EQ(g_calls, row + 3) << row;
  }
}

// A text that does not fit is refused (the buffer then empty) or, to be shown, clipped; nothing
// is written past the capacity given.
TEST(Run, BoundedTextRefusesWhatDoesNotFitAndWritesNothingPastTheBuffer) {
  char b[8];
  auto seen = [&](int result) { return std::to_string(result) + b + "|" + std::string(b + 5, 3); };
  auto fresh = [&](const char *text) { return memcpy(b, "xxxxx###", 8), lstrcpyA(b, text); };
  // Each: the result, the text, and the bytes past the capacity of 5.
  EXPECT_EQ(seen(FormatText(fresh(""), 5, "%s", "abcd")), "4abcd|###");
  EXPECT_EQ(seen(FormatText(fresh(""), 5, "abcde")), "-1|###");
  EXPECT_EQ(seen(FormatDisplayText(fresh(""), 5, "abcdef")), "4abcd|###");
  EXPECT_EQ(seen(CopyText(fresh(""), 5, "abcde")), "0|###");
  EXPECT_EQ(seen(AppendPath(fresh("ab"), 5, "cd")), "0ab|###");
  EXPECT_EQ(seen(AppendPath(fresh("a"), 5, "cd")), "1a\\cd|###");
}

// A listed name joined to a folder must name a file in it: each row is the verdict, then the name.
TEST(Run, OnlyAPlainFileNameIsJoinedToAFolder) {
  // clang-format off
  for (const char *row : {"1kv.dll", "1COM10", "1COM0.dll", "1CONSOLE.dll", "1NULL", "1a..b",
       "1.hidden", "0", "0.", "0..", "0..\\kv.dll", "0a/b", "0kv.dll:s", "0C:kv.dll", "0*.dll",
       "0kv?.dll", "0NUL", "0nul.txt", "0Con", "0aux.x.y", "0PRN", "0COM1", "0lpt9.dll",
       "0NUL .dll", "0LPT1 "})
    // clang-format on
    EXPECT_EQ(IsPlainFileName(row + 1), row[0] - '0') << row + 1;
}

// The lock is held without sharing, so a second run finds it taken, and it is gone once let go;
// only SYSTEM and Administrators may open it, so that a file left by a run the power cut short
// cannot be held open by a user to keep every later run out. (Wine keeps no list of its own: it
// shows the Unix owner, the running user, beside SYSTEM, and grants Everyone nothing only when
// the list it was given did not.)
TEST(Run, TheRunLockKeepsASecondRunOutAndOnlyAdministratorsMayOpenIt) {
  char system[MAX_PATH], descriptor[512], user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  GetSystemDirectoryA(system, MAX_PATH);
  std::string lock = system + "\\"s + kRunLockName, seen, others;
  HANDLE token = nullptr;
  char *me = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
              ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(user)->User.Sid, &me));
  ASSERT_EQ(TakeRunLock(), kLockTaken);
  seen += std::to_string(TakeRunLock());
  BOOL present = FALSE, defaulted = FALSE;
  ACL *dacl = nullptr;
  if (GetFileSecurityA(lock.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                       &size) &&
      GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present && dacl)
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE *ace = nullptr;
      char *sid = nullptr;
      if (GetAce(dacl, i, reinterpret_cast<void **>(&ace)) &&
          ConvertSidToStringSidA(&ace->SidStart, &sid)) {
        std::string who = sid;
        seen += who == "S-1-5-18" ? " SYSTEM" : "";
        others += who != "S-1-5-18" && who != "S-1-5-32-544" && who != me ? " " + who : "";
        LocalFree(sid);
      }
    }
  ReleaseRunLock(), LocalFree(me), CloseHandle(token);
  seen += " " + std::to_string(GetFileAttributesA(lock.c_str()) == INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(seen + "|" + others, std::to_string(kAnotherRun) + " SYSTEM 1|");
}
