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

// A guarded call's landing point (__builtin_setjmp's five words: no C runtime needed), and what
// the landing must put back. Guarding is set only while the foreign code runs: any other
// unhandled exception is not ours to survive.
void *Landing[5];
volatile LONG Guarding;
volatile DWORD LandedFault;
void *volatile SavedChain;
volatile LPTOP_LEVEL_EXCEPTION_FILTER SavedFilter;
DWORD *volatile FaultOut;

// The head of the thread's chain of exception handlers. On 32-bit x86 it is the TIB's first field,
// at fs:[0], and the chain runs through records on the stack; x64 keeps no such chain.
#ifdef _WIN64
void *ChainHead() { return nullptr; }
void SetChainHead(void *) {}
#else
void *ChainHead() {
  void *head;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}
void SetChainHead(void *head) { __asm__ volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }
#endif

// Runs inside the dispatcher, on the faulting thread's stack below the guarded call. The jump
// abandons the dispatcher's frames and those of the foreign code.
LONG WINAPI LandAfterFault(EXCEPTION_POINTERS *exception) {
  if (!Guarding)
    return EXCEPTION_CONTINUE_SEARCH;
  Guarding = 0;
  LandedFault = exception->ExceptionRecord->ExceptionCode;
  __builtin_longjmp(Landing, 1);
}

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

// The filter of unhandled exceptions, rather than a frame handler of our own: 32-bit GCC has no
// __try, and the filter is there on every NT (NT 4.0 included) and on x64. On x64 the dispatcher
// reaches it only through frames it can unwind: the callers of this must carry unwind tables
// there (CMakeLists.txt). Not inlined: this frame holds the landing point and must be live while
// entry runs.
__attribute__((noinline)) int CallForeignEntry(ForeignEntry entry, int *result, DWORD *fault) {
  // While the dispatcher calls the filter, the chain starts at records of its own below the
  // landing point, which the landing abandons: the head from before the call is put back.
  SavedChain = ChainHead();
  FaultOut = fault;
  SavedFilter = SetUnhandledExceptionFilter(LandAfterFault);
  // After the landing only what lives outside this frame's registers is read.
  if (__builtin_setjmp(Landing)) {
    SetChainHead(SavedChain);
    SetUnhandledExceptionFilter(SavedFilter);
    *FaultOut = LandedFault;
    return 0;
  }
  Guarding = 1;
  int returned = entry();
  Guarding = 0;
  SetUnhandledExceptionFilter(SavedFilter);
  *result = returned;
  return 1;
}
