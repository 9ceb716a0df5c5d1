// The compressed copy: a package file, plain or SZDD-compressed, expanded once into a fresh
// "kv" file beside the installed file, where the version gate reads it, and then renamed over
// the installed file, or moved there by Windows at the next restart.
//
// Files are opened with CreateFileA and handed to LZInit instead of going through
// LZOpenFileA: that one works through OpenFile, whose OFSTRUCT refuses paths of 128
// characters and more, and Wine's retries a name it cannot open with its last character
// replaced by '_', even when creating, so a locked target.dll would quietly become a new
// target.dl_. Nothing LZ-shaped ever touches the target's name.
//
// The expansion never writes into the installed file, and never into a folder that others can
// write to: the target's own folder is one only administrators write to, on the same volume,
// so only a complete expansion replaces the target, by a rename. A corrupt package or a full
// disk therefore leaves the installed file as it was.
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"

namespace {

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

} // namespace

Expansion ExpandPackageFile(const char *source, const char *folder, char (&expanded)[MAX_PATH],
                            FileIdentity *identity) {
  expanded[0] = 0;
  INT package = OpenPackageFile(source);
  if (package < 0)
    return kNoPackageFile;
  DWORD declared = 0;
  int haveDeclared = ReadDeclaredSize(source, &declared);
  HANDLE out = CreateFreshFile(folder, "kv", expanded);
  if (out == INVALID_HANDLE_VALUE) {
    Os.LZClose(package);
    return kNoRoom;
  }
  if (identity)
    GetFileIdentity(out, identity);
  // LZCopy also gives the output the package file's last-write time, which the version gate
  // compares.
  LONG copied = Os.LZCopy(package, static_cast<HFILE>(HandleToLong(out)));
  Os.CloseHandle(out);
  Os.LZClose(package);
  // The expansion of a truncated compressed file ends early without an error: only the size
  // its header declares tells a whole file from a cut one.
  if (copied < 0 || (haveDeclared && static_cast<DWORD>(copied) != declared)) {
    Os.DeleteFileA(expanded);
    expanded[0] = 0;
    return kExpansionFailed;
  }
  return kExpanded;
}

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

CopyBlock FindCopyBlock(const char *target) {
  char folder[MAX_PATH];
  DWORD attributes =
      GetParentFolder(target, folder) ? Os.GetFileAttributesA(folder) : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return kNoFolder;
  attributes = Os.GetFileAttributesA(target);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return kNotAFile;
  return kNothingInTheWay;
}
