#include "platform/library.h"

#include "platform/platform.h"
#include "platform/text.h"

namespace {

// NT 4.0's headers lack these; the values are the system's.
const DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
const DWORD kSearchDefaultDirs = 0x00001000; // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
const DWORD kAlteredSearchPath = 0x00000008; // LOAD_WITH_ALTERED_SEARCH_PATH

// Set once SetDefaultDllDirectories took: the system then searches only the folders asked for.
int SearchRestricted;

} // namespace

void RestrictLibrarySearch() {
  char system[MAX_PATH];
  // Nothing in the program reads a relative name; this only takes the folder away from the
  // search of systems that look there first (NT 4.0, and 2000 and XP without
  // SafeDllSearchMode).
  if (GetSystemFolder(system))
    Os.SetCurrentDirectoryA(system);
  SearchRestricted = Os.SetDefaultDllDirectories(kSearchDefaultDirs) != 0;
  if (!SearchRestricted)
    Os.SetDllDirectoryA(""); // XP SP1 and later: the current folder leaves the search
}

HMODULE LoadLibraryFromItsFolder(const char *path) {
  if (SearchRestricted)
    return Os.LoadLibraryExA(path, nullptr, kSearchDllLoadDir | kSearchDefaultDirs);

  // Before Windows 8 the search after the library's own folder and the system's folders still
  // walks PATH, so for this one load PATH names the system's folders only.
  char system[MAX_PATH];
  char narrow[2 * MAX_PATH];
  char windows[MAX_PATH];
  UINT windowsLength = Os.GetWindowsDirectoryA(windows, MAX_PATH);
  if (!GetSystemFolder(system) || windowsLength == 0 || windowsLength >= MAX_PATH ||
      FormatText(narrow, sizeof narrow, "%s;%s", system, windows) < 0)
    return nullptr;
  DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
  char *saved = size ? static_cast<char *>(Os.LocalAlloc(LPTR, size + 1)) : nullptr;
  if (size && (!saved || GetEnvironmentVariableA("PATH", saved, size + 1) > size)) {
    // Without a copy PATH could not be put back: no load rather than a load along it.
    if (saved)
      Os.LocalFree(saved);
    return nullptr;
  }
  SetEnvironmentVariableA("PATH", narrow);
  HMODULE module = Os.LoadLibraryExA(path, nullptr, kAlteredSearchPath);
  SetEnvironmentVariableA("PATH", saved);
  if (saved)
    Os.LocalFree(saved);
  return module;
}
