#include "platform/platform.h"

#include "platform/text.h"

PlatformOps Os;

namespace {

// Stand-ins for a run-time function that could not be found: they fail like the call.
template <typename R, typename... A> R WINAPI Unavailable(A...) {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return R();
}
template <typename R, typename... A> R WINAPI UnavailableLz(A...) { return R(LZERROR_BADINHANDLE); }
template <typename... A> void WINAPI UnavailableLzClose(A...) {}
// STATUS_PROCEDURE_NOT_FOUND: the native calls report failure through their result.
template <typename... A> LONG WINAPI UnavailableNt(A...) { return static_cast<LONG>(0xC000007A); }
// The registry calls report failure through their result, not the last error.
template <typename... A> LONG WINAPI UnavailableReg(A...) { return ERROR_PROC_NOT_FOUND; }

template <typename F> int Bind(F &entry, HMODULE module, const char *name, F stand_in) {
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  entry = found ? reinterpret_cast<F>(reinterpret_cast<void *>(found)) : stand_in;
  return found != nullptr;
}

// LoadLibraryA with a bare name searches the program's own folder first; a full path into the
// system directory does not search at all.
HMODULE LoadSystemLibrary(const char *name) {
  char path[MAX_PATH];
  if (!GetSystemDirectoryA(path, MAX_PATH) || !AppendPath(path, MAX_PATH, name))
    return nullptr;
  return LoadLibraryA(path);
}

} // namespace

int BindPlatform() {
  Os.GetModuleFileNameA = GetModuleFileNameA;
  Os.GetSystemDirectoryA = GetSystemDirectoryA;
  Os.GetWindowsDirectoryA = GetWindowsDirectoryA;
  Os.GetVersionExA = GetVersionExA;
  Os.GetTempPathA = GetTempPathA;
  Os.GetPrivateProfileStringA = GetPrivateProfileStringA;
  Os.CreateFileA = CreateFileA;
  Os.ReadFile = ReadFile;
  Os.WriteFile = WriteFile;
  Os.SetFilePointer = SetFilePointer;
  Os.CloseHandle = CloseHandle;
  Os.GetFileTime = GetFileTime;
  Os.GetFileInformationByHandle = GetFileInformationByHandle;
  Os.GetFileAttributesA = GetFileAttributesA;
  Os.SetFileAttributesA = SetFileAttributesA;
  Os.DeleteFileA = DeleteFileA;
  Os.FindFirstFileA = FindFirstFileA;
  Os.FindClose = FindClose;
  Os.FileTimeToSystemTime = FileTimeToSystemTime;
  Os.CreateProcessA = CreateProcessA;
  Os.Sleep = Sleep;
  Os.GetProcAddress = GetProcAddress;
  Os.FreeLibrary = FreeLibrary;
  Os.LocalAlloc = LocalAlloc;
  Os.LocalFree = LocalFree;
  Os.GetCurrentProcess = GetCurrentProcess;
  Os.GetStdHandle = GetStdHandle;
  Os.GetFullPathNameA = GetFullPathNameA;
  Os.LoadLibraryExA = LoadLibraryExA;
  Os.SetCurrentDirectoryA = SetCurrentDirectoryA;
  Os.LoadStringA = LoadStringA;
  Os.MessageBoxA = MessageBoxA;
  Os.FindWindowA = FindWindowA;
  Os.ExitWindowsEx = ExitWindowsEx;

  int all = 1;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  all &= Bind(Os.MoveFileExA, kernel, "MoveFileExA", &Unavailable);
  // Missing before XP SP1 and Windows 8 (or its update): not a failure to bind.
  Bind(Os.SetDllDirectoryA, kernel, "SetDllDirectoryA", &Unavailable);
  Bind(Os.SetDefaultDllDirectories, kernel, "SetDefaultDllDirectories", &Unavailable);

  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  all &= Bind(Os.NtSetInformationFile, ntdll, "NtSetInformationFile", &UnavailableNt);

  HMODULE advapi = LoadSystemLibrary("advapi32.dll");
  all &= Bind(Os.OpenProcessToken, advapi, "OpenProcessToken", &Unavailable);
  all &= Bind(Os.LookupPrivilegeValueA, advapi, "LookupPrivilegeValueA", &Unavailable);
  all &= Bind(Os.AdjustTokenPrivileges, advapi, "AdjustTokenPrivileges", &Unavailable);
  all &= Bind(Os.OpenSCManagerA, advapi, "OpenSCManagerA", &Unavailable);
  all &= Bind(Os.OpenServiceA, advapi, "OpenServiceA", &Unavailable);
  all &= Bind(Os.StartServiceA, advapi, "StartServiceA", &Unavailable);
  all &= Bind(Os.ControlService, advapi, "ControlService", &Unavailable);
  all &= Bind(Os.EnumServicesStatusA, advapi, "EnumServicesStatusA", &Unavailable);
  all &= Bind(Os.CloseServiceHandle, advapi, "CloseServiceHandle", &Unavailable);
  all &= Bind(Os.RegOpenKeyExA, advapi, "RegOpenKeyExA", &UnavailableReg);
  all &= Bind(Os.RegQueryValueExA, advapi, "RegQueryValueExA", &UnavailableReg);
  all &= Bind(Os.RegCloseKey, advapi, "RegCloseKey", &UnavailableReg);

  HMODULE version = LoadSystemLibrary("version.dll");
  all &= Bind(Os.GetFileVersionInfoSizeA, version, "GetFileVersionInfoSizeA", &Unavailable);
  all &= Bind(Os.GetFileVersionInfoA, version, "GetFileVersionInfoA", &Unavailable);
  all &= Bind(Os.VerQueryValueA, version, "VerQueryValueA", &Unavailable);

  HMODULE lz = LoadSystemLibrary("lz32.dll");
  all &= Bind(Os.LZOpenFileA, lz, "LZOpenFileA", &UnavailableLz);
  all &= Bind(Os.LZInit, lz, "LZInit", &UnavailableLz);
  all &= Bind(Os.LZCopy, lz, "LZCopy", &UnavailableLz);
  all &= Bind(Os.LZClose, lz, "LZClose", &UnavailableLzClose);
  return all;
}
