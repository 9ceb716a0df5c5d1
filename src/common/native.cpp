#include "common/common.h"
#include "platform/platform.h"
#include "platform/text.h"

const OsTag kOsTagX64 = {{'X', '6', '4', 0}};

namespace {

// The machine values of the PE format and the processor values of SYSTEM_INFO: NT 4.0's
// headers lack the newer ones.
const USHORT kMachineUnknown = 0;
const USHORT kMachineI386 = 0x014C;
const USHORT kMachineAmd64 = 0x8664;
const WORD kProcessorIntel = 0;
const WORD kProcessorAmd64 = 9;

#ifdef _WIN64
const USHORT kBuildMachine = kMachineAmd64;
#else
const USHORT kBuildMachine = kMachineI386;
#endif

// The native processor as a PE machine value. Only IsWow64Process2 sees through the x64
// emulation of ARM64 Windows; before Windows 10, WOW64 and the native system information say
// it, and before XP there is no 64-bit Windows at all.
USHORT NativeMachine() {
  USHORT process = kMachineUnknown;
  USHORT native = kMachineUnknown;
  if (Os.IsWow64Process2(Os.GetCurrentProcess(), &process, &native) && native != kMachineUnknown)
    return native;
  BOOL wow64 = FALSE;
  if (!Os.IsWow64Process(Os.GetCurrentProcess(), &wow64))
    wow64 = FALSE;
  SYSTEM_INFO info;
  FillBytes(&info, sizeof info, 0);
  info.wProcessorArchitecture = kBuildMachine == kMachineAmd64 ? kProcessorAmd64 : kProcessorIntel;
  // A 32-bit program outside WOW64 runs on 32-bit Windows whatever the processor could do.
  if (!wow64 && kBuildMachine == kMachineI386)
    return kMachineI386;
  Os.GetNativeSystemInfo(&info);
  if (info.wProcessorArchitecture == kProcessorAmd64)
    return kMachineAmd64;
  if (info.wProcessorArchitecture == kProcessorIntel)
    return kMachineI386;
  return kMachineUnknown; // Itanium, ARM64: no half of the package fits
}

} // namespace

NativeHalf FindNativeHalf() {
  USHORT native = NativeMachine();
  if (native == kBuildMachine)
    return kThisHalf;
  if (native == kMachineAmd64)
    return kHalf64;
  return kNoHalf;
}

int HaveHalf64(const char *program64) {
  Path directory;
  Path path;
  if (!GetProgramDirectory(directory) || directory[0] == 0)
    return 0;
  if (!CopyText(path, MAX_PATH, directory) || !AppendPath(path, MAX_PATH, kNativePackageFolder))
    return 0;
  DWORD folder = Os.GetFileAttributesA(path);
  if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY))
    return 0;
  if (!program64)
    return 1;
  if (!CopyText(path, MAX_PATH, directory) || !AppendPath(path, MAX_PATH, program64))
    return 0;
  DWORD file = Os.GetFileAttributesA(path);
  return file != INVALID_FILE_ATTRIBUTES && !(file & FILE_ATTRIBUTE_DIRECTORY);
}

int GetCompanionDirectory(Path &buffer) {
  if (!GetProgramDirectory(buffer) || buffer[0] == 0)
    return 0;
#ifdef _WIN64
  if (!AppendPath(buffer, MAX_PATH, kNativePackageFolder)) {
    buffer[0] = 0;
    return 0;
  }
#endif
  return 1;
}

int RunBesideProgram(const char *name, const char *args, int shareOutput, DWORD *exitCode) {
  Path path;
  if (!GetProgramDirectory(path) || path[0] == 0 || !AppendPath(path, MAX_PATH, name))
    return 0;
  // The whole argument text goes on: a cut one would be another command.
  int size = lstrlenA(path) + lstrlenA(args) + 4;
  char *line = static_cast<char *>(Os.LocalAlloc(LPTR, static_cast<SIZE_T>(size)));
  if (!line)
    return 0;
  FormatText(line, size, "\"%s\" ", path);
  lstrcpyA(line + lstrlenA(line), args);
  STARTUPINFOA startup;
  FillBytes(&startup, sizeof startup, 0);
  startup.cb = sizeof startup;
  if (shareOutput) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION process;
  FillBytes(&process, sizeof process, 0);
  // By its full name in the package folder, never searched for.
  BOOL started = Os.CreateProcessA(path, line, nullptr, nullptr, shareOutput ? TRUE : FALSE, 0,
                                   nullptr, nullptr, &startup, &process);
  Os.LocalFree(line);
  if (!started)
    return 0;
  Os.CloseHandle(process.hThread);
  int ended = Os.WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
              Os.GetExitCodeProcess(process.hProcess, exitCode);
  Os.CloseHandle(process.hProcess);
  return ended;
}
