/* Watches the spooler and one file while a patch run goes on, so that a scenario can see the
 * order of stop, copy and start: "spoolwatch PATH" polls the spooler's state and whether PATH
 * exists every 5 ms and appends each change to C:\tolvbed\spoolwatch.txt as
 * "<ms since start> <service state> <exists>" (states as SERVICE_STOPPED 1 ... RUNNING 4,
 * 0 when the service cannot be queried). It writes C:\tolvbed\spoolwatch.ok after its first
 * record; "spoolwatch --wait" returns once that is there (at most 10 s). */
#include <stdio.h>
#include <windows.h>

static DWORD spooler_state(void) {
  SERVICE_STATUS status;
  DWORD state = 0;
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, "spooler", SERVICE_QUERY_STATUS) : NULL;
  if (service && QueryServiceStatus(service, &status))
    state = status.dwCurrentState;
  if (service)
    CloseServiceHandle(service);
  if (manager)
    CloseServiceHandle(manager);
  return state;
}

int main(int argc, char **argv) {
  DWORD start = GetTickCount(), last_state = 0xFFFF, state;
  int last_exists = -1, exists, i;
  if (argc == 2 && lstrcmpA(argv[1], "--wait") == 0) {
    for (i = 0; i < 200; ++i) {
      if (GetFileAttributesA("C:\\tolvbed\\spoolwatch.ok") != INVALID_FILE_ATTRIBUTES)
        return 0;
      Sleep(50);
    }
    return 1;
  }
  if (argc != 2)
    return 2;
  for (;;) {
    state = spooler_state();
    exists = GetFileAttributesA(argv[1]) != INVALID_FILE_ATTRIBUTES;
    if (state != last_state || exists != last_exists) {
      FILE *f = fopen("C:\\tolvbed\\spoolwatch.txt", "a");
      if (f) {
        fprintf(f, "%lu %lu %d\n", GetTickCount() - start, state, exists);
        fclose(f);
      }
      if (last_exists < 0)
        CloseHandle(CreateFileA("C:\\tolvbed\\spoolwatch.ok", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                0, NULL));
      last_state = state;
      last_exists = exists;
    }
    Sleep(5);
  }
}
