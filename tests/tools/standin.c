/* The one stand-in library of the tests: the driver's companion library
 * (kvprc7a.dll, kvprcm01.dll), or a library planted where a careless program
 * would load it. Each attach, export call and detach appends "<its path>
 * <event> <watched>" to the file TOLVANIX_STANDIN_LOG names, else
 * C:\tolvbed\standin.txt: attach (LoadLibrary), attach-static (at a process's
 * start), attach-refused, InstService, UninstService, detach-free, detach-exit;
 * <watched> is the first line of system32\kvwatch.dll then ("-": none), which
 * dates a call against the patch. Variants: ATTACH [1] the attach's answer;
 * RESULT [1] the exports'; EXPORTS [2] both, 1 InstService, 0 neither;
 * FAULT [0] writes through a null pointer after the record: 1 UninstService, 2 InstService;
 * NEEDS_DEP imports KvDep from kvdep.dll; DEP exports it; SYSTEM the A calls of
 * VERSION and LZ32 too, failing, so that a planted one a program uses shows
 * (Wine's user32 binds a planted version.dll at every start and calls its W
 * calls). */
#include <string.h>
#include <windows.h>

#ifndef ATTACH
#define ATTACH 1
#endif
#ifndef RESULT
#define RESULT 1
#endif
#ifndef EXPORTS
#define EXPORTS 2
#endif
#ifndef FAULT
#define FAULT 0
#endif

static char self[MAX_PATH];

static int record(const char *event) {
  char log[MAX_PATH], line[2 * MAX_PATH], watched[64] = "-";
  DWORD got = 0;
  HANDLE f = CreateFileA("C:\\windows\\system32\\kvwatch.dll", GENERIC_READ, 7, NULL, OPEN_EXISTING,
                         0, NULL);
  if (f != INVALID_HANDLE_VALUE)
    ReadFile(f, watched, sizeof watched - 1, &got, NULL), CloseHandle(f), watched[got] = 0;
  watched[strcspn(watched, "\r\n")] = 0;
  if (!GetEnvironmentVariableA("TOLVANIX_STANDIN_LOG", log, sizeof log))
    lstrcpyA(log, "C:\\tolvbed\\standin.txt");
  f = CreateFileA(log, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
  if (f != INVALID_HANDLE_VALUE) {
    SetFilePointer(f, 0, NULL, FILE_END);
    WriteFile(f, line, (DWORD)wsprintfA(line, "%s %s %s\r\n", self, event, watched), &got, NULL);
    CloseHandle(f);
  }
  return RESULT;
}

/* Every variant calls KvDep as it attaches; NEEDS_DEP's comes from kvdep.dll. */
#ifdef NEEDS_DEP
__declspec(dllimport) int KvDep(void);
#elif defined DEP
__declspec(dllexport) int KvDep(void) { return 1; }
#else
static int KvDep(void) { return 1; }
#endif
#define CALL(name, faults) (faults ? *(volatile int *)0 = record(name) : record(name))
#if EXPORTS >= 1
__declspec(dllexport) int InstService(void) { return CALL("InstService", FAULT & 2); }
#endif
#if EXPORTS >= 2
__declspec(dllexport) int UninstService(void) { return CALL("UninstService", FAULT & 1); }
#endif
#ifdef SYSTEM
#pragma GCC diagnostic ignored "-Wunused-parameter" /* unnamed parameters are C23 */
#define SYSTEM_CALL(type, name, parameters, failure)                                               \
  __declspec(dllexport) type WINAPI name parameters { return record(#name), failure; }
SYSTEM_CALL(DWORD, GetFileVersionInfoSizeA, (LPCSTR name, LPDWORD handle), 0)
SYSTEM_CALL(BOOL, GetFileVersionInfoA, (LPCSTR name, DWORD handle, DWORD size, LPVOID data), 0)
SYSTEM_CALL(BOOL, VerQueryValueA, (LPCVOID block, LPCSTR path, LPVOID *value, PUINT size), 0)
SYSTEM_CALL(INT, LZOpenFileA, (LPSTR name, LPOFSTRUCT of, WORD style), LZERROR_BADINHANDLE)
SYSTEM_CALL(INT, LZInit, (INT file), LZERROR_BADINHANDLE)
SYSTEM_CALL(LONG, LZCopy, (INT from, INT to), LZERROR_BADINHANDLE)
__declspec(dllexport) VOID WINAPI LZClose(INT file) { record("LZClose"); }
#endif
#if EXPORTS == 0
/* Without one explicit export the linker would export every function. */
__declspec(dllexport) int ServiceVersion(void) { return 1; }
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    GetModuleFileNameA(instance, self, sizeof self);
    KvDep();
    /* The loader passes a non-null reserved value while a process starts. */
    record(!ATTACH ? "attach-refused" : reserved ? "attach-static" : "attach");
    return ATTACH;
  }
  if (reason == DLL_PROCESS_DETACH && ATTACH)
    record(reserved ? "detach-exit" : "detach-free");
  return TRUE;
}
