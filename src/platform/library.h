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
