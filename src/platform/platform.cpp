#include "platform/platform.h"

#include "platform/text.h"

PlatformOps Os;

namespace {

template <typename R, typename... A> R WINAPI UnavailableLz(A...) { return R(LZERROR_BADINHANDLE); }
template <typename... A> void WINAPI UnavailableLzClose(A...) {}
// STATUS_PROCEDURE_NOT_FOUND: the native calls report failure through their result.
template <typename... A> LONG WINAPI UnavailableNt(A...) { return static_cast<LONG>(0xC000007A); }
} // namespace

int GetSystemFolder(char (&folder)[MAX_PATH]) {
  UINT length = Os.GetSystemDirectoryA(folder, MAX_PATH);
  // A folder that does not fit is not in the buffer at all.
  if (length == 0 || length >= MAX_PATH) {
    folder[0] = 0;
    return 0;
  }
  return 1;
}

int GetTempFolder(char (&folder)[MAX_PATH]) {
  DWORD length = Os.GetTempPathA(MAX_PATH, folder);
  if (length == 0 || length >= MAX_PATH) {
    folder[0] = 0;
    return 0;
  }
  return 1;
}

// Runs before the table is bound, so it calls Windows directly.
HMODULE LoadSystemLibrary(const char *name) {
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  // A folder that does not fit is not in the buffer at all.
  if (length == 0 || length >= MAX_PATH || !AppendPath(path, MAX_PATH, name))
    return nullptr;
  // The library's own imports are then looked for in the system directory first, not in the
  // current folder, which NT 4.0 searches before it (the run leaves that folder only later).
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

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
  Os.GetSystemTime = GetSystemTime;
  Os.CreateProcessA = CreateProcessA;
  Os.Sleep = Sleep;
  Os.GetProcAddress = GetProcAddress;
  Os.FreeLibrary = FreeLibrary;
  Os.LocalAlloc = LocalAlloc;
  Os.LocalFree = LocalFree;
  Os.GetCurrentProcess = GetCurrentProcess;
  Os.LoadLibraryExA = LoadLibraryExA;
  Os.SetCurrentDirectoryA = SetCurrentDirectoryA;
  Os.WaitForSingleObject = WaitForSingleObject;
  Os.GetExitCodeProcess = GetExitCodeProcess;
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
  // Missing before XP (and IsWow64Process2 before Windows 10): no WOW64, the processor is x86.
  Bind(Os.IsWow64Process, kernel, "IsWow64Process", &Unavailable);
  Bind(Os.IsWow64Process2, kernel, "IsWow64Process2", &Unavailable);
  Bind(Os.GetNativeSystemInfo, kernel, "GetNativeSystemInfo", &Unavailable);

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
  all &= Bind(Os.QueryServiceStatus, advapi, "QueryServiceStatus", &Unavailable);
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
