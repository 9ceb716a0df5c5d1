#include "app/app.h"
#include "platform/platform.h"
#include "platform/text.h"

int ShowClosingBox(const char *text, const char *caption) {
  if (text[0] == 0)
    return 0;
  if (Os.MessageBoxA(nullptr, text, caption, MB_OKCANCEL) == IDOK)
    RestartComputer();
  return 0;
}

void RestartComputer() {
  HANDLE token;
  if (Os.OpenProcessToken(Os.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    TOKEN_PRIVILEGES privileges;
    FillBytes(&privileges, sizeof privileges, 0);
    // Without the privilege's identifier there is nothing defined to enable; asking for the
    // reboot anyway is what a token without the privilege gets, so end here the same way.
    if (!Os.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
      Os.CloseHandle(token);
      return;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    Os.AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    Os.CloseHandle(token);
    if (error != 0)
      return;
  }
  Os.ExitWindowsEx(EWX_REBOOT, 0);
}

int StartNotepad(const char *fileName) {
  char commandLine[MAX_PATH];
  char application[MAX_PATH];
  // A command line that does not fit is not cut: Notepad would open another file.
  if (FormatText(commandLine, MAX_PATH, "notepad  %s", fileName) < 0)
    return 0;
  // By full path: a bare "notepad" is searched in the program's own folder first.
  if (!Os.GetSystemDirectoryA(application, MAX_PATH) ||
      !AppendPath(application, MAX_PATH, "notepad.exe") ||
      Os.GetFileAttributesA(application) == INVALID_FILE_ATTRIBUTES) {
    if (!Os.GetWindowsDirectoryA(application, MAX_PATH) ||
        !AppendPath(application, MAX_PATH, "notepad.exe"))
      return 0;
  }
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  FillBytes(&startup, sizeof startup, 0);
  FillBytes(&process, sizeof process, 0);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  if (!Os.CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process))
    return 0;
  Os.CloseHandle(process.hThread);
  Os.CloseHandle(process.hProcess);
  return 1;
}
