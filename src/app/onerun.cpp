// One run at a time: from the spooler's stop to the companion's last call and the log, two runs
// would undo each other's work. The lock is a file in the system folder, where only
// administrators create files, so that no ordinary program can take it first; opened with no
// sharing, it keeps every other open out while a run holds it, and it is deleted when its handle
// closes, also when the run is killed.
#include "app/app.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "strings.h"

static HANDLE RunLock = INVALID_HANDLE_VALUE;

RunLockState TakeRunLock() {
  Path name;
  if (!GetSystemFolder(name) || !AppendPath(name, MAX_PATH, kRunLockName))
    return kLockNotTaken;
  HANDLE lock = Os.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (lock != INVALID_HANDLE_VALUE) {
    RunLock = lock;
    return kLockTaken;
  }
  // Only a lock held open means another run. Any other failure (not elevated, say) keeps no
  // run out: the run goes on as it would without a lock.
  return GetLastError() == ERROR_SHARING_VIOLATION ? kAnotherRun : kLockNotTaken;
}

void ReleaseRunLock() {
  if (RunLock != INVALID_HANDLE_VALUE)
    Os.CloseHandle(RunLock);
  RunLock = INVALID_HANDLE_VALUE;
}

int RefuseSecondRun(int quiet, const char *caption) {
  if (quiet)
    return kExitAnotherRun;
  char text[kTextCapacity];
  text[0] = 0;
  Os.LoadStringA(ProgramInstance, IDS_ANOTHER_RUN, text, kTextCapacity);
  // No restart offered: this run changed nothing a restart would finish.
  Os.MessageBoxA(nullptr, text, caption, MB_OK);
  return 0;
}
