// The compressed copy: a package file, plain or SZDD-compressed, expanded onto an installed
// file, or into a file that Windows moves over the installed one at the next restart.
//
// Files are opened with CreateFileA and handed to LZInit instead of going through
// LZOpenFileA: that one works through OpenFile, whose OFSTRUCT refuses paths of 128
// characters and more, and Wine's retries a name it cannot open with its last character
// replaced by '_', even when creating, so a locked target.dll would quietly become a new
// target.dl_. Nothing LZ-shaped ever touches the target's name.
//
// The expansion never writes into the installed file. It goes into a "kv" file beside the
// target (same folder, so the same volume), and only a complete expansion replaces the
// target, by a rename. A corrupt package or a full disk therefore leaves the installed file
// as it was.
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "report/report.h"

namespace {

const int kLogCapacity = 300;

void LogTargetFailure(const char *format, const char *target) {
  char line[kLogCapacity];
  // A target of up to 259 characters always fits; FormatText refuses rather than cuts.
  if (FormatText(line, kLogCapacity, format, target) >= 0)
    AppendErrorLog(line);
}

// Opens the package file for reading through LZInit, which hands back the plain handle for a
// plain file and an expanding one for a compressed file. LZClose closes either, together
// with the file underneath. Returns a negative LZ error when the file cannot be had.
INT OpenPackageFile(const char *source) {
  HANDLE file = Os.CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return LZERROR_BADINHANDLE;
  INT lz = Os.LZInit(static_cast<HFILE>(HandleToLong(file)));
  // A failed LZInit (unknown compression, no free LZ state) leaves the handle with us.
  if (lz < 0)
    Os.CloseHandle(file);
  return lz;
}

// The target's folder with its trailing backslash ("C:\" stays a root, not the current
// folder of drive C:). Returns 0 when the target names no folder.
int GetTargetFolder(const char *target, char *folder) {
  if (!CopyText(folder, MAX_PATH, target))
    return 0;
  int cut = -1;
  for (int i = 0; folder[i]; ++i)
    if (folder[i] == '\\')
      cut = i;
  if (cut < 0)
    return 0;
  folder[cut + 1] = 0;
  return 1;
}

// Expands the open package file into a fresh "kv" file in the target's folder. Returns 1 with
// the file's name in staged, or 0 with no such file left behind. The package handle is
// closed either way.
int ExpandBesideTarget(INT package, DWORD declared, int haveDeclared, const char *target,
                       char *staged) {
  char folder[MAX_PATH];
  staged[0] = 0;
  if (!GetTargetFolder(target, folder) || Os.GetTempFileNameA(folder, "kv", 0, staged) == 0) {
    staged[0] = 0;
    Os.LZClose(package);
    return 0;
  }
  HANDLE out = Os.CreateFileA(staged, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  LONG copied = LZERROR_BADOUTHANDLE;
  if (out != INVALID_HANDLE_VALUE) {
    // LZCopy also gives the output the package file's last-write time, which the version
    // gate compares.
    copied = Os.LZCopy(package, static_cast<HFILE>(HandleToLong(out)));
    Os.CloseHandle(out);
  }
  Os.LZClose(package);
  // The expansion of a truncated compressed file ends early without an error: only the size
  // its header declares tells a whole file from a cut one.
  if (copied < 0 || (haveDeclared && static_cast<DWORD>(copied) != declared)) {
    Os.DeleteFileA(staged);
    staged[0] = 0;
    return 0;
  }
  return 1;
}

} // namespace

int ReadDeclaredSize(const char *source, DWORD *size) {
  static const unsigned char kMagic[] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
  unsigned char head[14];
  DWORD got = 0;
  HANDLE file = Os.CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  if (!Os.ReadFile(file, head, sizeof head, &got, nullptr))
    got = 0;
  Os.CloseHandle(file);
  if (got < sizeof head)
    return 0;
  for (unsigned i = 0; i < sizeof kMagic; ++i)
    if (head[i] != kMagic[i])
      return 0;
  *size = head[10] | (head[11] << 8) | (head[12] << 16) | (static_cast<DWORD>(head[13]) << 24);
  return 1;
}

// A file held open by another process, a read-only file and a file we have no rights to all
// wait for the restart.
int CanReplaceNow(const char *target) {
  HANDLE file = Os.CreateFileA(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    Os.CloseHandle(file);
    return 1;
  }
  return GetLastError() == ERROR_FILE_NOT_FOUND;
}

int CopyLZFile(const char *source, const char *target) {
  INT package = OpenPackageFile(source);
  if (package < 0)
    return 0;

  // Decided before anything is written: once the target is found locked, the expansion is
  // kept for the restart instead of being renamed over it.
  int now = CanReplaceNow(target);

  char staged[MAX_PATH];
  DWORD declared = 0;
  int haveDeclared = ReadDeclaredSize(source, &declared);
  if (!ExpandBesideTarget(package, declared, haveDeclared, target, staged)) {
    LogTargetFailure("LZCopy %s at CopyLZFile FALSE \r\n", target);
    return 0;
  }

  if (now && Os.MoveFileExA(staged, target, MOVEFILE_REPLACE_EXISTING))
    return 1;

  // The restart way: the installed file is deleted first, then the expansion takes its name.
  // A failed first registration leaves nothing pending, so the expansion goes too.
  if (!Os.MoveFileExA(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    Os.DeleteFileA(staged);
    LogTargetFailure("MoveFileEx %s at CopyLZFile FALSE \r\n", target);
    return 0;
  }
  // The deletion is already pending and cannot be taken back through the API: the expansion
  // stays beside the target, the one copy from which the file can be put back by hand.
  if (!Os.MoveFileExA(staged, target, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    LogTargetFailure("MoveFileEx %s at CopyLZFile FALSE \r\n", target);
    return 0;
  }
  return 1;
}

char *ExpandToTempFile(const char *source, char *name) {
  char folder[MAX_PATH];
  name[0] = 0;
  DWORD length = Os.GetTempPathA(MAX_PATH, folder);
  if (length == 0 || length >= MAX_PATH || Os.GetTempFileNameA(folder, "KPPC", 0, name) == 0) {
    // No name: the caller's reads of the empty name find nothing, as for a failed expansion.
    name[0] = 0;
    return name;
  }
  // No file may stand at the name when the package cannot even be opened.
  Os.DeleteFileA(name);
  CopyLZFile(source, name);
  return name;
}
