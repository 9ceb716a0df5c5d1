#include "platform/files.h"

#include "platform/platform.h"
#include "platform/text.h"

namespace {

// Names must not be foreseeable by a program that wants to be there first, so each one mixes
// the clock, the performance counter and the process with a running state. No C runtime here,
// hence the hand-made mixing (the finaliser of MurmurHash3).
DWORD FreshState;

DWORD Mix(DWORD x) {
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  x *= 0xC2B2AE35u;
  x ^= x >> 16;
  return x;
}

DWORD NextFreshNumber() {
  LARGE_INTEGER counter;
  counter.QuadPart = 0;
  QueryPerformanceCounter(&counter);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  DWORD local = 0;
  FreshState = Mix(FreshState + 0x9E3779B9u) ^ Mix(counter.LowPart ^ GetTickCount()) ^
               Mix(now.dwLowDateTime + (GetCurrentProcessId() << 16)) ^
               Mix(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(&local)) ^ counter.HighPart);
  return FreshState;
}

int FormatFreshName(const char *folder, const char *prefix, char (&name)[MAX_PATH]) {
  return FormatText(name, MAX_PATH, "%s%s%08lX.tmp", folder, prefix, NextFreshNumber()) >= 0;
}

// Enough that a folder crowded with planted names still yields one; a folder that refuses for
// any other reason ends the search at once.
const int kFreshTries = 64;

} // namespace

HANDLE CreateFreshFile(const char *folder, const char *prefix, char (&name)[MAX_PATH],
                       DWORD share) {
  for (int attempt = 0; attempt < kFreshTries; ++attempt) {
    if (!FormatFreshName(folder, prefix, name))
      break;
    HANDLE file = Os.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
      return file;
    // A directory or a file about to be deleted at the name answers "access denied".
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
      break;
  }
  name[0] = 0;
  return INVALID_HANDLE_VALUE;
}

int MakeFreshName(const char *folder, const char *prefix, char (&name)[MAX_PATH]) {
  for (int attempt = 0; attempt < kFreshTries; ++attempt) {
    if (!FormatFreshName(folder, prefix, name))
      break;
    if (Os.GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES)
      return 1;
  }
  name[0] = 0;
  return 0;
}

int GetFileIdentity(HANDLE file, FileIdentity *id) {
  BY_HANDLE_FILE_INFORMATION info;
  FillBytes(&info, sizeof info, 0);
  if (!Os.GetFileInformationByHandle(file, &info))
    return 0;
  id->volume = info.dwVolumeSerialNumber;
  id->indexHigh = info.nFileIndexHigh;
  id->indexLow = info.nFileIndexLow;
  return 1;
}

namespace {

// What name leads to now, opened with access, when it is the file id; else INVALID_HANDLE_VALUE.
// A link at the name opens what it leads to, which is not our file. An identity never learnt
// (all zeros) matches nothing.
HANDLE OpenIfSameFile(const char *name, const FileIdentity &id, DWORD access) {
  if (!id.volume && !id.indexHigh && !id.indexLow)
    return INVALID_HANDLE_VALUE;
  HANDLE file = Os.CreateFileA(name, access | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  FileIdentity found;
  if (file != INVALID_HANDLE_VALUE &&
      !(GetFileIdentity(file, &found) && found.volume == id.volume &&
        found.indexHigh == id.indexHigh && found.indexLow == id.indexLow)) {
    Os.CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  return file;
}

struct IoStatus {
  LONG status;
  ULONG_PTR information;
};
const int kFileRenameInformation = 10;
const int kFileDispositionInformation = 13;

} // namespace

int DeleteIfSameFile(const char *name, const FileIdentity &id) {
  // The check and the deletion act on one handle, so nothing can be swapped in between.
  HANDLE file = OpenIfSameFile(name, id, DELETE);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  IoStatus io = {0, 0};
  BOOLEAN disposition = TRUE; // the file goes when this handle closes
  int deleted = Os.NtSetInformationFile(file, &io, &disposition, sizeof disposition,
                                        kFileDispositionInformation) >= 0;
  Os.CloseHandle(file);
  return deleted;
}

int MoveIfSameFile(const char *name, const FileIdentity &id, const char *destination) {
  // FILE_RENAME_INFORMATION: the new name relative to a folder handle, in UTF-16.
  struct {
    BOOLEAN replace;
    HANDLE folder;
    ULONG length;
    WCHAR name[MAX_PATH];
  } rename;
  FillBytes(&rename, sizeof rename, 0);
  char folder[MAX_PATH];
  if (!GetParentFolder(destination, folder))
    return 0;
  // The name "/LOG=" gives may be in the system's code page; one that is not valid there is
  // refused rather than guessed at.
  int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, destination + lstrlenA(folder), -1,
                                  rename.name, MAX_PATH);
  if (count <= 1)
    return 0;
  rename.length = static_cast<ULONG>((count - 1) * sizeof(WCHAR));

  HANDLE file = OpenIfSameFile(name, id, DELETE);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  // The folder is held from here to the move, so a folder swapped in by name afterwards (a
  // junction pointed elsewhere) cannot take the file.
  HANDLE held =
      Os.CreateFileA(folder, FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  int moved = 0;
  if (held != INVALID_HANDLE_VALUE) {
    rename.replace = TRUE;
    rename.folder = held;
    IoStatus io = {0, 0};
    moved = Os.NtSetInformationFile(file, &io, &rename, sizeof rename, kFileRenameInformation) >= 0;
    Os.CloseHandle(held);
  }
  Os.CloseHandle(file);
  return moved;
}
