#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"

int ErrorLogEnabled;
static char ErrorLogName[MAX_PATH];

const char *MakeErrorLogName() {
  char folder[MAX_PATH];
  ErrorLogName[0] = 0;
  DWORD length = Os.GetTempPathA(MAX_PATH, folder);
  // Without a temp folder, or with one too deep for a file name, the name stays empty and
  // every append fails to open it: the log is lost, the run is not.
  if (length == 0 || length >= MAX_PATH - 14)
    return ErrorLogName;
  if (Os.GetTempFileNameA(folder, "KPPC", 0, ErrorLogName) == 0) {
    ErrorLogName[0] = 0;
    return ErrorLogName;
  }
  Os.DeleteFileA(ErrorLogName);
  return ErrorLogName;
}

int AppendErrorLog(const char *text) {
  if (!ErrorLogEnabled || ErrorLogName[0] == 0)
    return 1;
  HANDLE log = Os.CreateFileA(ErrorLogName, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE)
    return 1;
  Os.SetFilePointer(log, 0, nullptr, FILE_END);
  DWORD written = 0;
  Os.WriteFile(log, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
  Os.CloseHandle(log);
  return 1;
}
