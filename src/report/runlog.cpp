// The log of a run started with "/LOG=FILE". The administrator names the file, but the run is
// elevated and the folder may be one that others write to, so nothing is ever opened at that
// name: the log is written to a fresh file beside it, held shared for reading only, and at the
// end moved over the name, which replaces whatever stands there (a link itself, never what it
// leads to).
#include "common/common.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"
#include "strings.h"

namespace {

char RunLogName[MAX_PATH];   // the fresh file
char RunLogTarget[MAX_PATH]; // where it goes at the end
HANDLE RunLogHandle = INVALID_HANDLE_VALUE;
FileIdentity RunLogIdentity;

// Only a full path is taken (a drive's root or a share), with a plain file name at its end: the
// current folder is the system folder by now, and no longer the one the name was typed in.
int IsFullLogPath(const char *file, char (&folder)[MAX_PATH]) {
  int drive =
      ((file[0] | 0x20) >= 'a' && (file[0] | 0x20) <= 'z') && file[1] == ':' && file[2] == '\\';
  int share = file[0] == '\\' && file[1] == '\\';
  return (drive || share) && GetParentFolder(file, folder) &&
         IsPlainFileName(file + lstrlenA(folder));
}

// The version text on one line: its line breaks and the blanks after them become one blank.
void FormatFirstLine(char (&line)[kTextCapacity + 40]) {
  char version[kTextCapacity];
  version[0] = 0;
  Os.LoadStringA(ProgramInstance, IDS_VERSION, version, kTextCapacity);
  int out = 0;
  for (int i = 0; version[i]; ++i) {
    char c = version[i] == '\r' || version[i] == '\n' ? ' ' : version[i];
    if (c != ' ' || (out > 0 && version[out - 1] != ' '))
      version[out++] = c;
  }
  version[out > 0 && version[out - 1] == ' ' ? out - 1 : out] = 0;
  SYSTEMTIME now;
  FillBytes(&now, sizeof now, 0);
  Os.GetSystemTime(&now);
  FormatText(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d UTC %s \r\n", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond, version);
}

} // namespace

int OpenRunLog(const char *file) {
  char folder[MAX_PATH];
  RunLogHandle = INVALID_HANDLE_VALUE;
  if (!IsFullLogPath(file, folder) || !CopyText(RunLogTarget, MAX_PATH, file))
    return 0;
  // What the move at the end could not replace refuses the log now, before anything is done.
  DWORD attributes = Os.GetFileAttributesA(file);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
    return 0;
  HANDLE log = CreateFreshFile(folder, "KPP", RunLogName, FILE_SHARE_READ);
  if (log == INVALID_HANDLE_VALUE)
    return 0;
  // Without its identity the log could not be told from a file put at its name later, so it
  // would never be moved into place: refused now, its empty fresh file left behind.
  if (!GetFileIdentity(log, &RunLogIdentity)) {
    Os.CloseHandle(log);
    return 0;
  }
  RunLogHandle = log;
  char line[kTextCapacity + 40];
  FormatFirstLine(line);
  AppendRunLog(line);
  return 1;
}

int AppendRunLog(const char *text) {
  if (RunLogHandle == INVALID_HANDLE_VALUE)
    return 1;
  DWORD written = 0;
  Os.WriteFile(RunLogHandle, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
  return 1;
}

int KeepRunLog() {
  if (RunLogHandle == INVALID_HANDLE_VALUE)
    return 0;
  Os.CloseHandle(RunLogHandle);
  RunLogHandle = INVALID_HANDLE_VALUE;
  return MoveIfSameFile(RunLogName, RunLogIdentity, RunLogTarget);
}

void DiscardRunLog() {
  if (RunLogHandle == INVALID_HANDLE_VALUE)
    return;
  Os.CloseHandle(RunLogHandle);
  RunLogHandle = INVALID_HANDLE_VALUE;
  DeleteIfSameFile(RunLogName, RunLogIdentity);
}
