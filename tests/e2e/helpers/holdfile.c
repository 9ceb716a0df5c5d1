/* Holds a file open without sharing until the session ends, as a running program holds its
 * module: "holdfile PATH" opens it and writes C:\tolvbed\held.ok; "holdfile --wait" returns
 * once that marker is there (at most 10 s), so that the next step sees the file held. */
#include <windows.h>

int main(int argc, char **argv) {
  int i;
  HANDLE file;
  if (argc == 2 && lstrcmpA(argv[1], "--wait") == 0) {
    for (i = 0; i < 200; ++i) {
      if (GetFileAttributesA("C:\\tolvbed\\held.ok") != INVALID_FILE_ATTRIBUTES)
        return 0;
      Sleep(50);
    }
    return 1;
  }
  if (argc != 2)
    return 2;
  file = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return 3;
  CloseHandle(CreateFileA("C:\\tolvbed\\held.ok", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  for (;;)
    Sleep(100000);
}
