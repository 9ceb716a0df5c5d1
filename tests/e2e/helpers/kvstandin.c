/* Stands in for the driver's helper service and helper program, which the diagnostic report
 * looks at, and reads the session's time zone:
 *
 *   kvstandin window CLASS TITLE   starts a copy of itself that owns a top-level window of that
 *                                  class and title until the session ends; returns 0 once the
 *                                  window can be found (1 after 10 s without it)
 *   kvstandin service              the service program (binPath= of `sc create`): runs until
 *                                  told to stop
 *   kvstandin tzbias FILE          writes the session's time-zone bias in minutes to FILE, so a
 *                                  scenario can tell that Wine runs in the zone it was given */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

static int own_window(const char *cls, const char *title) {
  WNDCLASSA wc;
  MSG msg;
  memset(&wc, 0, sizeof wc);
  wc.lpfnWndProc = window_proc;
  wc.hInstance = GetModuleHandleA(NULL);
  wc.lpszClassName = cls;
  if (!RegisterClassA(&wc) || !CreateWindowA(cls, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL,
                                             NULL, wc.hInstance, NULL))
    return 1;
  while (GetMessageA(&msg, NULL, 0, 0) > 0)
    DispatchMessageA(&msg);
  return 0;
}

/* The pre commands of a scenario wait for each command to end, so the window lives in a child
 * that is not waited for. */
static int start_window(const char *cls, const char *title) {
  char line[1024], module[MAX_PATH];
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  int i;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  GetModuleFileNameA(NULL, module, sizeof module);
  _snprintf(line, sizeof line - 1, "\"%s\" window-child \"%s\" \"%s\"", module, cls, title);
  line[sizeof line - 1] = 0;
  if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
    return 1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  for (i = 0; i < 200; ++i) {
    if (FindWindowA(cls, title))
      return 0;
    Sleep(50);
  }
  return 1;
}

static SERVICE_STATUS_HANDLE status_handle;
static SERVICE_STATUS status;
static HANDLE stop_event;

static DWORD WINAPI handler(DWORD control, DWORD type, LPVOID data, LPVOID context) {
  (void)type;
  (void)data;
  (void)context;
  if (control == SERVICE_CONTROL_STOP) {
    status.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(status_handle, &status);
    SetEvent(stop_event);
  }
  return NO_ERROR;
}

static void WINAPI service_main(DWORD argc, LPSTR *argv) {
  (void)argc;
  status_handle = RegisterServiceCtrlHandlerExA(argv[0], handler, NULL);
  if (!status_handle)
    return;
  memset(&status, 0, sizeof status);
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = SERVICE_RUNNING;
  status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  SetServiceStatus(status_handle, &status);
  WaitForSingleObject(stop_event, INFINITE);
}

static int run_service(void) {
  /* A program of its own process runs its one service whatever name the table gives it. */
  static char name[] = "kvstandin";
  SERVICE_TABLE_ENTRYA table[] = {{name, service_main}, {NULL, NULL}};
  stop_event = CreateEventA(NULL, TRUE, FALSE, NULL);
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}

static int write_bias(const char *file) {
  TIME_ZONE_INFORMATION tz;
  FILE *f;
  DWORD kind = GetTimeZoneInformation(&tz);
  long bias = tz.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? tz.DaylightBias : 0);
  f = fopen(file, "w");
  if (!f)
    return 1;
  fprintf(f, "%ld", bias);
  fclose(f);
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 4 && !strcmp(argv[1], "window"))
    return start_window(argv[2], argv[3]);
  if (argc == 4 && !strcmp(argv[1], "window-child"))
    return own_window(argv[2], argv[3]);
  if (argc == 2 && !strcmp(argv[1], "service"))
    return run_service();
  if (argc == 3 && !strcmp(argv[1], "tzbias"))
    return write_bias(argv[2]);
  return 2;
}
