// Where libraries come from. The program runs elevated, and its current folder and the folders
// on PATH are writable by the user's unelevated programs: no library, nor anything a library
// imports, may be found there.
#pragma once

#include <windows.h>

// At start: the current folder becomes the system folder, and where the system allows it the
// current folder and PATH leave the default search.
void RestrictLibrarySearch();

// Loads the library at path (a full path) with its own folder searched first for what it
// imports, then the system's folders; never the current folder or a PATH folder.
HMODULE LoadLibraryFromItsFolder(const char *path);

// An export of a foreign library that takes no arguments and returns an integer. With no
// arguments the caller's and the callee's stack cleanup agree whichever convention it was built
// with.
typedef int(WINAPI *ForeignEntry)();

// Calls entry so that a fault in it ends the call, not the process: an exception that the
// library does not handle itself lands back here. Returns 1 with *result set when entry returned,
// 0 with *fault set to the exception's code when it faulted. What the library holds is then in
// whatever state the fault left it: it must not be freed (its detach could fault too).
int CallForeignEntry(ForeignEntry entry, int *result, DWORD *fault);
