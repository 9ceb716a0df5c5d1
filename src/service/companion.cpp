#include "common/common.h"
#include "platform/library.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"
#include "service/service.h"

// The companion library's exports take no arguments, so the caller's and the callee's stack
// cleanup agree whichever convention the library was built with.
typedef int(WINAPI *ServiceEntry)();

static HMODULE CompanionModule;
static ServiceEntry StartEntry;
static ServiceEntry StopEntry;

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

static int CallEntry(ServiceEntry entry, const char *failureLine) {
  if (!entry)
    return 0;
  int result = entry();
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
    return CallEntry(StartEntry, "sstart at  KvSplServiceControl FALSE \r\n");
  if (request == kStopRequest)
    return CallEntry(StopEntry, "sstop at  KvSplServiceControl FALSE \r\n");
  return request;
}

void UnloadPrintProcessor() {
  if (CompanionModule)
    Os.FreeLibrary(CompanionModule);
  // The entry points point into the freed library: a request after this must find nothing
  // bound rather than call into unmapped code.
  CompanionModule = nullptr;
  StartEntry = nullptr;
  StopEntry = nullptr;
}
