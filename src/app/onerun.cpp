// One run at a time: from the spooler's stop to the companion's last call and the log, two runs
// would undo each other's work. The lock is a file in the system folder, where only
// administrators create files, so that no ordinary program can take it first; opened with no
// sharing, it keeps every other open out while a run holds it, and it is deleted when its handle
// closes, also when the run is killed.
#include "app/app.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <stddef.h>

static HANDLE RunLock = INVALID_HANDLE_VALUE;

// Who may open the lock file: SYSTEM and Administrators, nobody else. A file left behind by a run
// the power cut short would otherwise take system32's permissions, which let every user read it,
// and a user who held it open would keep every later run out. Built as the self-relative form
// Windows stores, so that no call is needed to make it.
struct AdministratorsOnly {
  SECURITY_DESCRIPTOR_RELATIVE header;
  ACL acl;
  ACE_HEADER systemAce;
  ACCESS_MASK systemMask;
  BYTE systemSid[12]; // S-1-5-18
  ACE_HEADER administratorsAce;
  ACCESS_MASK administratorsMask;
  BYTE administratorsSid[16]; // S-1-5-32-544
};
static const WORD kSystemAceSize = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + 12;
static const WORD kAdministratorsAceSize = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + 16;
static const AdministratorsOnly kLockDescriptor = {
    {SECURITY_DESCRIPTOR_REVISION, 0, SE_DACL_PRESENT | SE_SELF_RELATIVE, 0, 0, 0,
     offsetof(AdministratorsOnly, acl)},
    {ACL_REVISION, 0, sizeof(ACL) + kSystemAceSize + kAdministratorsAceSize, 2, 0},
    {ACCESS_ALLOWED_ACE_TYPE, 0, kSystemAceSize},
    GENERIC_ALL,
    {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},
    {ACCESS_ALLOWED_ACE_TYPE, 0, kAdministratorsAceSize},
    GENERIC_ALL,
    {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0}};
static_assert(sizeof(AdministratorsOnly) == offsetof(AdministratorsOnly, acl) + sizeof(ACL) +
                                                kSystemAceSize + kAdministratorsAceSize,
              "the descriptor's parts must lie one after the other, as Windows reads them");

RunLockState TakeRunLock() {
  Path name;
  if (!GetSystemFolder(name) || !AppendPath(name, MAX_PATH, kRunLockName))
    return kLockNotTaken;
  SECURITY_ATTRIBUTES security = {sizeof security,
                                  const_cast<AdministratorsOnly *>(&kLockDescriptor), FALSE};
  HANDLE lock = Os.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, &security, OPEN_ALWAYS,
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
