/* A companion print-processor library for scenarios. Every attach, detach and export call
 * appends one line to C:\tolvbed\companion.txt:
 *
 *   <file name it was loaded as> <event> <watched>
 *
 * where the event is attach, InstService, UninstService, detach-free (FreeLibrary) or
 * detach-exit (the process ended with the library still loaded), and <watched> is the first line
 * of C:\windows\system32\kvwatch.dll at that moment ("-" when there is none), so a scenario can
 * tell whether a call came before or after that file was replaced.
 *
 * Compile-time variants (defaults in brackets):
 *   COMPANION_ATTACH  [1]  DllMain's answer to the attach; 0 makes LoadLibrary fail
 *   COMPANION_RESULT  [1]  what both exports return
 *   COMPANION_EXPORTS [2]  2: InstService and UninstService; 1: InstService only; 0: neither
 *   COMPANION_NEEDS_DEP     imports KvDep from kvdep.dll (planted.c), a library of its own */
#include <windows.h>

#ifndef COMPANION_ATTACH
#define COMPANION_ATTACH 1
#endif
#ifndef COMPANION_RESULT
#define COMPANION_RESULT 1
#endif
#ifndef COMPANION_EXPORTS
#define COMPANION_EXPORTS 2
#endif

static char own_name[MAX_PATH] = "?";

#ifdef COMPANION_NEEDS_DEP
__declspec(dllimport) int KvDep(void);
#endif

static void watched(char *out, DWORD size) {
  DWORD got = 0, i;
  HANDLE f = CreateFileA("C:\\windows\\system32\\kvwatch.dll", GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                         OPEN_EXISTING, 0, NULL);
  lstrcpyA(out, "-");
  if (f == INVALID_HANDLE_VALUE)
    return;
  if (ReadFile(f, out, size - 1, &got, NULL)) {
    for (i = 0; i < got && out[i] != '\r' && out[i] != '\n'; ++i) {
    }
    out[i] = 0;
  }
  CloseHandle(f);
}

static int record(const char *event) {
  char line[MAX_PATH + 128], state[64];
  DWORD written;
  HANDLE f =
      CreateFileA("C:\\tolvbed\\companion.txt", GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
  if (f != INVALID_HANDLE_VALUE) {
    watched(state, sizeof state);
    wsprintfA(line, "%s %s %s\r\n", own_name, event, state);
    SetFilePointer(f, 0, NULL, FILE_END);
    WriteFile(f, line, (DWORD)lstrlenA(line), &written, NULL);
    CloseHandle(f);
  }
  return COMPANION_RESULT;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  char path[MAX_PATH];
  const char *p, *base;
  if (reason == DLL_PROCESS_ATTACH) {
    if (GetModuleFileNameA(instance, path, sizeof path)) {
      for (p = base = path; *p; ++p)
        if (*p == '\\')
          base = p + 1;
      lstrcpyA(own_name, base);
    }
#ifdef COMPANION_NEEDS_DEP
    KvDep();
#endif
    record(COMPANION_ATTACH ? "attach" : "attach-refused");
    return COMPANION_ATTACH;
  }
  if (reason == DLL_PROCESS_DETACH && COMPANION_ATTACH)
    record(reserved ? "detach-exit" : "detach-free");
  return TRUE;
}

#if COMPANION_EXPORTS >= 1
__declspec(dllexport) int InstService(void) { return record("InstService"); }
#endif
#if COMPANION_EXPORTS >= 2
__declspec(dllexport) int UninstService(void) { return record("UninstService"); }
#endif
#if COMPANION_EXPORTS == 0
/* Without one explicit export the linker would export every function. */
__declspec(dllexport) int ServiceVersion(void) { return 1; }
#endif
