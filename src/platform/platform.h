// The program's only door to Win32: one table entry per call, named after the call.
//
// The shipping program fills the table once at start (BindPlatform) with the real functions
// and never changes it. A unit test may swap one entry for the length of a test to provoke a
// failure that Wine cannot be made to produce, then put the saved entry back. Nothing in here
// decides anything: an entry is either the real function or, for a function of a library that
// could not be bound, a stand-in that fails the way the call itself fails.
#pragma once

#include <windows.h>

#include <lzexpand.h>
#include <winsvc.h>
#include <winver.h>

// Functions that NT 4.0's headers do not declare, bound at run time where the system has them.
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFn)(DWORD flags);
typedef BOOL(WINAPI *SetDllDirectoryAFn)(LPCSTR folder);
typedef LONG(WINAPI *NtSetInformationFileFn)(HANDLE file, void *io, void *info, ULONG length,
                                             int infoClass);
typedef BOOL(WINAPI *IsWow64ProcessFn)(HANDLE process, BOOL *wow64);
typedef BOOL(WINAPI *IsWow64Process2Fn)(HANDLE process, USHORT *processMachine,
                                        USHORT *nativeMachine);
typedef void(WINAPI *GetNativeSystemInfoFn)(SYSTEM_INFO *info);

struct PlatformOps {
  // KERNEL32, imported statically (see scripts/imports.allow for why each is safe to import).
  decltype(&::GetModuleFileNameA) GetModuleFileNameA;
  decltype(&::GetSystemDirectoryA) GetSystemDirectoryA;
  decltype(&::GetWindowsDirectoryA) GetWindowsDirectoryA;
  decltype(&::GetVersionExA) GetVersionExA;
  decltype(&::GetTempPathA) GetTempPathA;
  decltype(&::GetPrivateProfileStringA) GetPrivateProfileStringA;
  decltype(&::CreateFileA) CreateFileA;
  decltype(&::ReadFile) ReadFile;
  decltype(&::WriteFile) WriteFile;
  decltype(&::SetFilePointer) SetFilePointer;
  decltype(&::CloseHandle) CloseHandle;
  decltype(&::GetFileTime) GetFileTime;
  decltype(&::GetFileInformationByHandle) GetFileInformationByHandle;
  decltype(&::GetFileAttributesA) GetFileAttributesA;
  decltype(&::SetFileAttributesA) SetFileAttributesA;
  decltype(&::DeleteFileA) DeleteFileA;
  decltype(&::FindFirstFileA) FindFirstFileA;
  decltype(&::FindClose) FindClose;
  decltype(&::FileTimeToSystemTime) FileTimeToSystemTime;
  decltype(&::GetSystemTime) GetSystemTime;
  decltype(&::CreateProcessA) CreateProcessA;
  decltype(&::Sleep) Sleep;
  decltype(&::GetProcAddress) GetProcAddress;
  decltype(&::FreeLibrary) FreeLibrary;
  decltype(&::LocalAlloc) LocalAlloc;
  decltype(&::LocalFree) LocalFree;
  decltype(&::GetCurrentProcess) GetCurrentProcess;
  decltype(&::LoadLibraryExA) LoadLibraryExA;
  decltype(&::SetCurrentDirectoryA) SetCurrentDirectoryA;
  decltype(&::WaitForSingleObject) WaitForSingleObject;
  decltype(&::GetExitCodeProcess) GetExitCodeProcess;

  // KERNEL32, looked up at run time: Windows 95 may lack MoveFileExA, and the program must
  // still load there to end quietly; the DLL search calls came with later systems.
  decltype(&::MoveFileExA) MoveFileExA;
  SetDefaultDllDirectoriesFn SetDefaultDllDirectories;
  SetDllDirectoryAFn SetDllDirectoryA;
  // What the processor and the process are: XP (IsWow64Process, GetNativeSystemInfo) and
  // Windows 10 (IsWow64Process2, the only one that tells ARM64 to an emulated x64 program).
  IsWow64ProcessFn IsWow64Process;
  IsWow64Process2Fn IsWow64Process2;
  GetNativeSystemInfoFn GetNativeSystemInfo;

  // NTDLL, loaded in every NT process: deletion and renaming through a handle already held.
  NtSetInformationFileFn NtSetInformationFile;

  // USER32, imported statically.
  decltype(&::LoadStringA) LoadStringA;
  decltype(&::MessageBoxA) MessageBoxA;
  decltype(&::FindWindowA) FindWindowA;
  decltype(&::ExitWindowsEx) ExitWindowsEx;

  // ADVAPI32, VERSION and LZ32: loaded at run time by full path from the system directory, so
  // that a DLL of the same name planted beside the program is never the one loaded.
  decltype(&::OpenProcessToken) OpenProcessToken;
  decltype(&::LookupPrivilegeValueA) LookupPrivilegeValueA;
  decltype(&::AdjustTokenPrivileges) AdjustTokenPrivileges;
  decltype(&::OpenSCManagerA) OpenSCManagerA;
  decltype(&::OpenServiceA) OpenServiceA;
  decltype(&::StartServiceA) StartServiceA;
  decltype(&::ControlService) ControlService;
  decltype(&::QueryServiceStatus) QueryServiceStatus;
  decltype(&::EnumServicesStatusA) EnumServicesStatusA;
  decltype(&::CloseServiceHandle) CloseServiceHandle;
  // The restart operations other runs and installers left waiting.
  decltype(&::RegOpenKeyExA) RegOpenKeyExA;
  decltype(&::RegQueryValueExA) RegQueryValueExA;
  decltype(&::RegCloseKey) RegCloseKey;
  decltype(&::GetFileVersionInfoSizeA) GetFileVersionInfoSizeA;
  decltype(&::GetFileVersionInfoA) GetFileVersionInfoA;
  decltype(&::VerQueryValueA) VerQueryValueA;
  decltype(&::LZOpenFileA) LZOpenFileA;
  decltype(&::LZInit) LZInit;
  decltype(&::LZCopy) LZCopy;
  decltype(&::LZClose) LZClose;
};

extern PlatformOps Os;

// Fills the table with what the patcher calls (tolvanix-check binds its few extras itself).
// Returns 1 when every run-time function was found, 0 when one was not; the missing ones then
// fail as their call would (ERROR_PROC_NOT_FOUND, an LZ error).
int BindPlatform();

// The system folder and the temp folder, through the table. Each returns 1, or 0 with folder
// empty when Windows gives none or one that does not fit (never a cut folder). The temp
// folder ends in a backslash, the system folder does not.
int GetSystemFolder(char (&folder)[MAX_PATH]);
int GetTempFolder(char (&folder)[MAX_PATH]);

// LoadLibraryA with a bare name searches the program's own folder first; a full path into the
// system directory does not search for the library, and its own imports are looked for beside
// it first.
HMODULE LoadSystemLibrary(const char *name);

// Sets entry to module's export name, or to stand_in when there is none. Returns 1 when found.
template <typename F> int Bind(F &entry, HMODULE module, const char *name, F stand_in) {
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  entry = found ? reinterpret_cast<F>(reinterpret_cast<void *>(found)) : stand_in;
  return found != nullptr;
}

// Stand-ins for a run-time function that could not be found: they fail like the call.
template <typename R, typename... A> R WINAPI Unavailable(A...) {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return R();
}
// The registry calls report failure through their result, not the last error.
template <typename... A> LONG WINAPI UnavailableReg(A...) { return ERROR_PROC_NOT_FOUND; }
