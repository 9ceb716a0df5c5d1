/* A companion print-processor library for scenarios: exports InstService and UninstService,
 * appends each call's name to C:\tolvbed\companion.txt and returns 1 (success). */
#include <windows.h>

static int record(const char *name) {
  HANDLE f =
      CreateFileA("C:\\tolvbed\\companion.txt", GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
  DWORD written;
  if (f != INVALID_HANDLE_VALUE) {
    SetFilePointer(f, 0, NULL, FILE_END);
    WriteFile(f, name, (DWORD)lstrlenA(name), &written, NULL);
    WriteFile(f, "\r\n", 2, &written, NULL);
    CloseHandle(f);
  }
  return 1;
}

__declspec(dllexport) int InstService(void) { return record("InstService"); }
__declspec(dllexport) int UninstService(void) { return record("UninstService"); }
