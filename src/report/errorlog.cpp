// The L mode's error log. It lives in the temp folder, which the user's unelevated programs
// write to, so the elevated run never opens a name there that it did not just create: the file
// is made new (CREATE_NEW) on the first append and then written only through the handle that
// made it, which is held shared for reading only, so no other program can write, rename or
// delete it meanwhile. It is removed at the end only if its name still leads to that same file.
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"

namespace {

enum LogState { kNotMade, kOpen, kClosed };

char ErrorLogName[MAX_PATH];
LogState ErrorLogState;
HANDLE ErrorLogHandle;
int ErrorLogMade;  // the file exists, made by this run
int ErrorLogKnown; // ErrorLogIdentity names it
FileIdentity ErrorLogIdentity;

// Should something stand at the name by the first append, the log takes another fresh name
// rather than that file. A log that cannot be made loses the message; the next append tries
// again.
void MakeErrorLog() {
  HANDLE log = Os.CreateFileA(ErrorLogName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) {
    char folder[MAX_PATH];
    char other[MAX_PATH];
    if (!GetTempFolder(folder))
      return;
    log = CreateFreshFile(folder, "KPP", other, FILE_SHARE_READ);
    if (log == INVALID_HANDLE_VALUE)
      return;
    CopyText(ErrorLogName, MAX_PATH, other);
  }
  ErrorLogHandle = log;
  ErrorLogState = kOpen;
  ErrorLogMade = 1;
  ErrorLogKnown = GetFileIdentity(log, &ErrorLogIdentity);
}

} // namespace

const char *MakeErrorLogName() {
  char folder[MAX_PATH];
  ErrorLogName[0] = 0;
  ErrorLogState = kNotMade;
  ErrorLogMade = 0;
  ErrorLogKnown = 0;
  // A name no other program can foresee, and no file yet: a run that logs nothing leaves none.
  // Without a temp folder, or with one too deep for a file name, the log is lost, the run is
  // not.
  if (GetTempFolder(folder))
    MakeFreshName(folder, "KPP", ErrorLogName);
  return ErrorLogName;
}

int AppendErrorLog(const char *text) {
  AppendRunLog(text);
  // Only an L run names the log; before that, and once it is closed, lines go nowhere.
  if (ErrorLogName[0] == 0)
    return 1;
  if (ErrorLogState == kNotMade)
    MakeErrorLog();
  if (ErrorLogState != kOpen)
    return 1;
  Os.SetFilePointer(ErrorLogHandle, 0, nullptr, FILE_END);
  DWORD written = 0;
  Os.WriteFile(ErrorLogHandle, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
  return 1;
}

const char *CloseErrorLog() {
  if (ErrorLogState == kOpen)
    Os.CloseHandle(ErrorLogHandle);
  ErrorLogState = kClosed;
  return ErrorLogName;
}

void DeleteErrorLog() {
  CloseErrorLog();
  // A log that was never made is not looked for: whatever stands at its name is not ours.
  if (ErrorLogKnown)
    DeleteIfSameFile(ErrorLogName, ErrorLogIdentity);
}

void KeepErrorLog() {
  CloseErrorLog();
  char folder[MAX_PATH];
  char kept[MAX_PATH];
  if (!GetTempFolder(folder) || FormatText(kept, MAX_PATH, "%s%s", folder, kKeptErrorLogName) < 0)
    return;
  // A run that logged nothing still replaces the log of an earlier run: the name tells of the
  // last run only.
  if (!ErrorLogMade) {
    HANDLE empty = CreateFreshFile(folder, "KPP", ErrorLogName);
    if (empty == INVALID_HANDLE_VALUE)
      return;
    ErrorLogKnown = GetFileIdentity(empty, &ErrorLogIdentity);
    Os.CloseHandle(empty);
  }
  // As the report is put in place: only our own log moves, and the move replaces the name itself,
  // a link planted there included, never what it leads to. Should the name refuse (a folder
  // stands there), the log stays under its own name.
  if (ErrorLogKnown)
    MoveIfSameFile(ErrorLogName, ErrorLogIdentity, kept);
}
