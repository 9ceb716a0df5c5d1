/* A file planted where a careless program would pick it up: built as version.dll, lz32.dll,
 * notepad.exe and kvdep.dll (a library the companion stand-in can import). Whatever loads or starts it leaves C:\tolvbed\planted\<name>-<pid>.txt:
 * the planted file, the process it ran in, and how it came in: "static" (resolving some
 * module's imports at process start), "dynamic" (LoadLibrary), or "exe" (started). */
#include <windows.h>

static void leave_mark(HMODULE self, const char *kind) {
  char me[MAX_PATH], host[MAX_PATH], mark[MAX_PATH * 2], line[MAX_PATH * 3];
  const char *name;
  HANDLE f;
  DWORD written;
  GetModuleFileNameA(self, me, sizeof me);
  GetModuleFileNameA(NULL, host, sizeof host);
  name = me + lstrlenA(me);
  while (name > me && name[-1] != '\\')
    --name;
  CreateDirectoryA("C:\\tolvbed\\planted", NULL);
  wsprintfA(mark, "C:\\tolvbed\\planted\\%s-%lu.txt", name, GetCurrentProcessId());
  wsprintfA(line, "%s\r\n%s\r\n%s\r\n", me, host, kind);
  f = CreateFileA(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (f == INVALID_HANDLE_VALUE)
    return;
  WriteFile(f, line, (DWORD)lstrlenA(line), &written, NULL);
  CloseHandle(f);
}

#ifdef PLANTED_EXPORT
__declspec(dllexport) int KvDep(void) { return 1; }
#endif

#ifdef PLANTED_EXE
int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR args, int show) {
  (void)prev;
  (void)args;
  (void)show;
  leave_mark(inst, "exe");
  return 0;
}
#else
BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID reserved) {
  /* The loader passes a non-null reserved value for static loads, null for LoadLibrary. */
  if (reason == DLL_PROCESS_ATTACH)
    leave_mark(inst, reserved ? "static" : "dynamic");
  return TRUE;
}
#endif
