// Files in folders that other programs can write to (the temp folder): made new under names no
// one could know in advance, and removed only when the name still leads to what we made.
#pragma once

#include <windows.h>

// Which file a handle is open on: the volume and the file's number on it.
struct FileIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
};

// Creates a new empty file in folder (which ends in a backslash) named prefix, eight hexadecimal
// digits and ".tmp". CREATE_NEW never opens what stands at a name already; a taken name is
// passed over for another. Returns the handle (read and write, shared as share says) with the
// name in name, or INVALID_HANDLE_VALUE with name empty when the folder refuses new files.
HANDLE CreateFreshFile(const char *folder, const char *prefix, char (&name)[MAX_PATH],
                       DWORD share = 0);

// A name of the same form that nothing stands at yet, without making the file.
int MakeFreshName(const char *folder, const char *prefix, char (&name)[MAX_PATH]);

// Returns 1 with *id set, or 0.
int GetFileIdentity(HANDLE file, FileIdentity *id);

// Deletes the file at name only when the name still leads to the file id: another file, or a
// link put there in the meantime, is left alone. Returns 1 when it deleted.
int DeleteIfSameFile(const char *name, const FileIdentity &id);

// Moves the file at name to destination (a full path), replacing what stands there (a link
// itself, never what it leads to), only when name still leads to the file id. The move acts on
// that file as held open and into its folder as held open, so neither can be swapped for another
// by name in between. Returns 1 when it moved.
int MoveIfSameFile(const char *name, const FileIdentity &id, const char *destination);
