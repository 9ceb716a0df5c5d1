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

// The first bytes of a file, as many as there are up to size. Returns 0 when it cannot be read.
int ReadHead(const char *path, unsigned char *head, DWORD size, DWORD *got) {
  *got = 0;
  HANDLE file = Os.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  if (!Os.ReadFile(file, head, size, got, nullptr))
    *got = 0;
  Os.CloseHandle(file);
  return 1;
}

int StartsWith(const unsigned char *head, DWORD got, const char *magic, DWORD length) {
  if (got < length)
    return 0;
  for (DWORD i = 0; i < length; ++i)
    if (head[i] != static_cast<unsigned char>(magic[i]))
      return 0;
  return 1;
}

// Opens the package file for reading through LZInit, which hands back the plain handle for a
// plain file and an expanding one for a compressed file. LZClose closes either, together
// with the file underneath. A name that leads nowhere is no package file; anything else that
// cannot be had for reading (a folder, a file held without sharing, no rights) is one that
// cannot be read, which must never pass for an absent one.
Expansion OpenPackageFile(const char *source, INT *lz) {
  DWORD attributes = Os.GetFileAttributesA(source);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH)
      return kNoPackageFile;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return kPackageUnreadable;
  }
  HANDLE file = Os.CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? kNoPackageFile : kPackageUnreadable;
  *lz = Os.LZInit(static_cast<HFILE>(HandleToLong(file)));
  // A failed LZInit (unknown compression, no free LZ state) leaves the handle with us.
  if (*lz < 0) {
    Os.CloseHandle(file);
    return kExpansionFailed;
  }
  return kExpanded;
}

} // namespace

Expansion ExpandPackageFile(const char *source, const char *folder, char (&expanded)[MAX_PATH],
                            FileIdentity *identity) {
  expanded[0] = 0;
  INT package = -1;
  Expansion opened = OpenPackageFile(source, &package);
  if (opened != kExpanded)
    return opened;
  // The expander hands these back as plain data: installed, they would be broken files.
  if (FindUnexpandableForm(source)) {
    Os.LZClose(package);
    return kExpansionFailed;
  }
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

const char *FindUnexpandableForm(const char *source) {
  unsigned char head[9];
  DWORD got = 0;
  if (!ReadHead(source, head, sizeof head, &got))
    return nullptr;
  if (StartsWith(head, got, "KWAJ\x88\xF0\x27\xD1", 8))
    return "KWAJ";
  if (StartsWith(head, got, "SZ \x88\xF0\x27\x33\x65", 8))
    return "SZ";
  if (StartsWith(head, got, "SZDD\x88\xF0\x27\x33", 8) && got > 8 && head[8] != 'A')
    return "SZDD";
  return nullptr;
}

int CanReadInstalledFile(const char *target) {
  if (Os.GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES)
    return 1;
  HANDLE file =
      Os.CreateFileA(target, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  Os.CloseHandle(file);
  return 1;
}

int ReadDeclaredSize(const char *source, DWORD *size) {
  unsigned char head[14];
  DWORD got = 0;
  if (!ReadHead(source, head, sizeof head, &got) || got < sizeof head ||
      !StartsWith(head, got, "SZDD\x88\xF0\x27\x33", 8))
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
