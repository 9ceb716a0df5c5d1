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

int RefuseRun(int quiet, int quietCode, UINT textId, const char *caption, const char *argument) {
  if (quiet)
    return quietCode;
  char format[kTextCapacity];
  char text[kTextCapacity + MAX_PATH];
  format[0] = 0;
  Os.LoadStringA(ProgramInstance, textId, format, kTextCapacity);
  FormatDisplayText(text, sizeof text, format, argument);
  // OK alone: nothing was done that a restart would finish.
  Os.MessageBoxA(nullptr, text, caption, MB_OK);
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
