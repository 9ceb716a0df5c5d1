#include "common/common.h"
#include "config/config.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "report/report.h"

static char ReportName[MAX_PATH];
// The report is written under this fresh name and then moved over ReportName.
static char ReportDraftName[MAX_PATH];
static HANDLE ReportHandle;

static int ReportIsOpen() {
  return ReportHandle != nullptr && ReportHandle != INVALID_HANDLE_VALUE;
}

// The program runs elevated and the temp folder is writable by unelevated programs, so a
// tolvanix.log planted there as a link must never be opened: CREATE_ALWAYS would truncate and
// write whatever it leads to. Nor is the old name deleted first: Wine deletes a symbolic link's
// target, not the link. The report is written to a fresh name of its own that no other program
// could foresee, made with CREATE_NEW, which fails on any existing name instead of following it,
// and is then moved over tolvanix.log; a move replaces the directory entry (a link itself, never
// its target). Once the draft is closed, others could put a file of their own at its name or
// swap the folder for another: the move takes only the draft itself, into the folder as it is
// held at that moment.
static FileIdentity ReportDraftIdentity;

static HANDLE CreateReportDraft(const char *folder) {
  HANDLE draft = CreateFreshFile(folder, "KPP", ReportDraftName);
  FillBytes(&ReportDraftIdentity, sizeof ReportDraftIdentity, 0);
  if (draft != INVALID_HANDLE_VALUE)
    GetFileIdentity(draft, &ReportDraftIdentity);
  return draft;
}

static void OpenReport() {
  char folder[MAX_PATH];
  ReportName[0] = 0;
  ReportDraftName[0] = 0;
  ReportHandle = INVALID_HANDLE_VALUE;
  DWORD length = Os.GetTempPathA(MAX_PATH, folder);
  // A temp path that did not fit the buffer is not in it; a report name that does not fit is
  // not cut to a shorter one, which would be another file.
  if (length == 0 || length >= MAX_PATH)
    return;
  if (FormatText(ReportName, MAX_PATH, "%stolvanix.log", folder) < 0)
    return;
  ReportHandle = CreateReportDraft(folder);
}

// Puts the finished report in place. Returns 1 when tolvanix.log is now the report. When the
// old name cannot be replaced (a directory, or read-only on Windows) the draft is removed and
// the old name is left as it is.
static int PlaceReport() {
  if (MoveIfSameFile(ReportDraftName, ReportDraftIdentity, ReportName))
    return 1;
  DeleteIfSameFile(ReportDraftName, ReportDraftIdentity);
  return 0;
}

int WriteReportLine(const char *text) {
  if (!ReportIsOpen())
    return 0;
  DWORD written = 0;
  Os.WriteFile(ReportHandle, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
  return Os.WriteFile(ReportHandle, "\r\n", 2, &written, nullptr);
}

char *FormatFileTime(const FILETIME *time, ReportText &buffer) {
  SYSTEMTIME parts;
  // A file time beyond what FileTimeToSystemTime takes reads as all zeros, not stack garbage.
  FillBytes(&parts, sizeof parts, 0);
  Os.FileTimeToSystemTime(time, &parts);
  FormatText(buffer, kReportTextCapacity, "%d/%d/%d   %d:%d:%d", parts.wYear, parts.wMonth,
             parts.wDay, parts.wHour, parts.wMinute, parts.wSecond);
  return buffer;
}

int WriteFileRecord(const char *name) {
  static const char kSeparator[] = "-----------------------------------------------------------";
  char path[MAX_PATH];
  char fileLine[kReportTextCapacity];
  UINT length = Os.GetSystemDirectoryA(path, MAX_PATH);
  // Without the whole path there is nothing true to report; no part of the record is written.
  if (length == 0 || length >= MAX_PATH || !AppendPath(path, MAX_PATH, name) ||
      FormatText(fileLine, kReportTextCapacity, "file              = %s", path) < 0)
    return 0;

  WIN32_FIND_DATAA found;
  FillBytes(&found, sizeof found, 0);
  HANDLE search = Os.FindFirstFileA(path, &found);
  if (search != INVALID_HANDLE_VALUE)
    Os.FindClose(search);
  if (search == INVALID_HANDLE_VALUE || found.cFileName[0] == 0) {
    WriteReportLine(kSeparator);
    WriteReportLine(fileLine);
    return 0;
  }

  // Every line is formed before the first is written, so a record is whole or absent.
  char attributesLine[kReportTextCapacity];
  char createdLine[kReportTextCapacity];
  char writtenLine[kReportTextCapacity];
  char versionLine[kReportTextCapacity];
  ReportText text;
  FormatText(attributesLine, kReportTextCapacity, "Attributes        = %04x",
             static_cast<unsigned>(found.dwFileAttributes));
  FormatText(createdLine, kReportTextCapacity, "Create time       = %s",
             FormatFileTime(&found.ftCreationTime, text));
  FormatText(writtenLine, kReportTextCapacity, "Last Write time   = %s",
             FormatFileTime(&found.ftLastWriteTime, text));
  GetFileVersionString(path, text, kReportTextCapacity);
  if (FormatText(versionLine, kReportTextCapacity, "Version           = %s", text) < 0)
    return 0;
  WriteReportLine(kSeparator);
  WriteReportLine(fileLine);
  WriteReportLine(attributesLine);
  WriteReportLine(createdLine);
  WriteReportLine(writtenLine);
  WriteReportLine(versionLine);
  WriteReportLine("");
  return 1;
}

int GetHelperServiceState() {
  SC_HANDLE manager =
      Os.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_ENUMERATE_SERVICE);
  if (!manager)
    return -1;
  DWORD needed = 0;
  DWORD count = 0;
  DWORD resume = 0;
  Os.EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_ACTIVE, nullptr, 0, &needed, &count,
                         &resume);
  int state = -1;
  // The slack guards against services started between the two calls; a size so large that the
  // slack would wrap around is not allocated at all.
  void *buffer = nullptr;
  if (needed <= 0x7FFFFFFFu - 500)
    buffer = Os.LocalAlloc(LPTR, needed + 500);
  if (buffer) {
    ENUM_SERVICE_STATUSA *services = static_cast<ENUM_SERVICE_STATUSA *>(buffer);
    count = 0;
    resume = 0;
    if (!Os.EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_ACTIVE, services, needed, &needed,
                                &count, &resume))
      count = 0;
    for (DWORD i = 0; i < count; ++i) {
      if (lstrcmpA(services[i].lpDisplayName, "KvSplService") == 0 &&
          lstrcmpA(services[i].lpServiceName, "Kestova XP spl Service") == 0) {
        state = static_cast<int>(services[i].ServiceStatus.dwCurrentState);
        break;
      }
    }
    Os.LocalFree(buffer);
  }
  Os.CloseServiceHandle(manager);
  return state;
}

static void WriteServiceSection() {
  static const char *const kStateNames[] = {
      "SERVICE_STOPPED", "SERVICE_START_PENDING",    "SERVICE_STOP_PENDING",
      "SERVICE_RUNNING", "SERVICE_CONTINUE_PENDING", "SERVICE_PAUSE_PENDING",
      "SERVICE_PAUSED"};
  char line[kReportTextCapacity];
  int state = GetHelperServiceState();
  if (state >= 1 && state <= 7)
    FormatText(line, kReportTextCapacity, "Kvsrv05c = %s", kStateNames[state - 1]);
  else if (state == -1)
    CopyText(line, kReportTextCapacity, "Kvsrv05c = SERVICE_NOT_INSTALLED");
  else
    // The service manager defines no other state; should one appear, show its number.
    FormatText(line, kReportTextCapacity, "Kvsrv05c = SERVICE_UNKNOWN_STATE %d", state);
  WriteReportLine(line);
  WriteReportLine("");
  if (Os.FindWindowA("KestovaSplProcXPwrapper", "KvSplSvc"))
    WriteReportLine("Kvhl05c.exe = RUNNING");
  else
    WriteReportLine("Kvhl05c.exe = STOP");
  WriteReportLine("");
}

static void ReportListedFile(const char *name, void *) { WriteFileRecord(name); }

int WriteDiagnosticReport(int showInNotepad) {
#ifdef _WIN64
  static const char kInstalledCompanion[] = "spool\\prtprocs\\x64\\kvprc7a.dll";
#else
  static const char kInstalledCompanion[] = "spool\\prtprocs\\w32x86\\kvprc7a.dll";
#endif
  static const char *const kFixedFiles[] = {"kvqrt7xb.dll", "kvqrtwyn.dll", "kvhl05c.exe",
                                            "kvsrv05c.exe", "kvsrv05c.ksi", kInstalledCompanion};
  OpenReport();
  WriteServiceSection();
  for (const char *name : kFixedFiles)
    WriteFileRecord(name);
  // The configuration file's path is formed by the list walk itself; when it does not fit,
  // every key reads empty and only the fixed records are written.
  const PatchList &helpers = kPatchLists[kHelperList];
  ForEachListedName(helpers.section, helpers.limit, ReportListedFile, nullptr);
  if (!ReportIsOpen())
    return 1;
  Os.CloseHandle(ReportHandle);
  // A stale handle value could by now name another file: nothing more goes through it.
  ReportHandle = nullptr;
  if (PlaceReport() && showInNotepad)
    StartNotepad(ReportName);
  return 1;
}
