#include "common/common.h"
#include "platform/platform.h"
#include "platform/text.h"

int StartNotepad(const char *fileName) {
  char commandLine[MAX_PATH];
  char application[MAX_PATH];
  // A command line that does not fit is not cut: Notepad would open another file.
  if (FormatText(commandLine, MAX_PATH, "notepad  %s", fileName) < 0)
    return 0;
  // By full path: a bare "notepad" is searched in the program's own folder first.
  if (!GetSystemFolder(application) || !AppendPath(application, MAX_PATH, "notepad.exe") ||
      Os.GetFileAttributesA(application) == INVALID_FILE_ATTRIBUTES) {
    UINT length = Os.GetWindowsDirectoryA(application, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !AppendPath(application, MAX_PATH, "notepad.exe"))
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
