#include "common/common.h"
#include "platform/library.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"
#include "service/service.h"

typedef ForeignEntry ServiceEntry;

static HMODULE CompanionModule;
static ServiceEntry StartEntry;
static ServiceEntry StopEntry;
// An export faulted since the library was loaded; the library is then never freed.
static int CompanionFaulted;
static int CompanionAbandoned;

// Takes the place of an export that cannot be had: the request then fails and is logged.
static int WINAPI ServiceStub() { return 0; }

// Loads <directory>\<name>, and what it imports from its own folder or the system's. A full
// name that does not fit is not loaded at all: a cut path would load some other library into a
// program that runs elevated.
static HMODULE LoadCompanion(const char *directory, const char *name) {
  char path[MAX_PATH];
  if (!CopyText(path, MAX_PATH, directory) || !AppendPath(path, MAX_PATH, name))
    return nullptr;
  return LoadLibraryFromItsFolder(path);
}

static ServiceEntry BindEntry(const char *exportName) {
  FARPROC found = Os.GetProcAddress(CompanionModule, exportName);
  if (!found)
    return ServiceStub;
  return reinterpret_cast<ServiceEntry>(reinterpret_cast<void *>(found));
}

int LoadPrintProcessor() {
  CompanionFaulted = 0;
  Path directory;
  // An unknown folder is not guessed at: no library rather than one from elsewhere.
  if (!GetCompanionDirectory(directory))
    return 0;
  // Only the package's own copy beside the program, never one found along the search path.
  CompanionModule = LoadCompanion(directory, "kvprc7a.dll");
  if (!CompanionModule)
    CompanionModule = LoadCompanion(directory, "kvprcm01.dll");
  if (!CompanionModule) {
    AppendErrorLog("LoadPrintProcessor FALSE \r\n");
    StartEntry = ServiceStub;
    StopEntry = ServiceStub;
    return 0;
  }
  StartEntry = BindEntry("InstService");
  StopEntry = BindEntry("UninstService");
  return 1;
}

// A fault in the export counts as its failure, told by one more line before the failure's own,
// so that a crash reads apart from a refusal; the run goes on (a stopped helper service is
// still asked to start).
static int CallEntry(ServiceEntry entry, const char *exportName, const char *failureLine) {
  if (!entry)
    return 0;
  int result = 0;
  DWORD fault = 0;
  if (!CallForeignEntry(entry, &result, &fault)) {
    CompanionFaulted = 1;
    char line[100];
    if (FormatText(line, sizeof line, "%s at KvSplServiceControl FALSE 0x%08X \r\n", exportName,
                   fault) >= 0)
      AppendErrorLog(line);
    result = 0;
  }
  if (result == 0) {
    AppendErrorLog(failureLine);
    return 0;
  }
  return result;
}

int KvSplServiceControl(int request) {
  // Before the request is looked at: below XP no request of any kind reaches the library.
  if (GetOsClass() != kOsClassXP) {
    AppendErrorLog("not XP  KvSplServiceControl FALSE \r\n");
    return 0;
  }
  if (request == kStartRequest)
    return CallEntry(StartEntry, "InstService", "sstart at  KvSplServiceControl FALSE \r\n");
  if (request == kStopRequest)
    return CallEntry(StopEntry, "UninstService", "sstop at  KvSplServiceControl FALSE \r\n");
  return request;
}

void UnloadPrintProcessor() {
  // A library that faulted may fault again in its detach, under the loader lock: it stays.
  if (CompanionModule && CompanionFaulted)
    CompanionAbandoned = 1;
  else if (CompanionModule)
    Os.FreeLibrary(CompanionModule);
  // The entry points point into the freed library: a request after this must find nothing
  // bound rather than call into unmapped code.
  CompanionModule = nullptr;
  StartEntry = nullptr;
  StopEntry = nullptr;
}

int CompanionCrashed() { return CompanionFaulted; }

int CompanionLeftLoaded() { return CompanionAbandoned; }
