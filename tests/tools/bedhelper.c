/* The one helper program of the end-to-end bed. Copied as notepad.exe it stands in for Notepad:
 * it records how it was started and copies the file it was given (the program may delete it
 * two seconds later). Without arguments it holds a scenario's Wine session: it reads
 * C:\tolvbed\plan.txt (key=value lines: version, answer, cmdline, cwd, timeout_ms, and the
 * repeatable pre and setenv), sets Wine's Windows version, registers a restart marker (a rename
 * only a restart carries out), runs the set-up commands, sets the program's environment, runs
 * the program, records and answers each message box, records the pending renames and the exit
 * code in C:\tolvbed\result.txt (key=value, with \\, \n, \r and \xHH escaped), and sleeps until
 * wineserver -k ends the session, so that the bed looks at a live session. Two set-up steps
 * it does itself, for as long as the session lives: "hold PATH" holds PATH open sharing reads,
 * as a running program its loaded module ("lock PATH": no sharing), and "window CLASS|TITLE"
 * makes such a top-level window. Other runs, "second=lock|CMDLINE" once the program holds its
 * lock (in its replacement work) and "second=box|CMDLINE" when its box shows (ended before it is
 * answered), have exit codes second<N>, and boxes recorded as the program's with program=2. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <tlhelp32.h>

#define BED "C:\\tolvbed\\"
static FILE *out_file;
static char plan[64][2048];
static int nplan, nboxes;
static PROCESS_INFORMATION others[8];

static void out(const char *key, const char *fmt, ...) {
  static char buf[40000];
  const unsigned char *p = (const unsigned char *)buf;
  va_list ap;
  va_start(ap, fmt);
  _vsnprintf(buf, sizeof buf - 1, fmt, ap);
  va_end(ap);
  fprintf(out_file, "%s=", key);
  for (; *p; ++p)
    if (*p == '\\' || *p == '\n' || *p == '\r')
      fputs(*p == '\\' ? "\\\\" : *p == '\n' ? "\\n" : "\\r", out_file);
    else
      fprintf(out_file, *p < 0x20 || *p >= 0x7f ? "\\x%02x" : "%c", *p);
  fputc('\n', out_file);
  fflush(out_file); /* a hung run still leaves a trace */
}

static int notepad(void) {
  char module[MAX_PATH], name[64], arg[4096], *q;
  const char *p = GetCommandLineA();
  int copied;
  GetModuleFileNameA(NULL, module, sizeof module);
  /* Notepad takes everything after its own name as one file name, quotes removed. */
  p = *p == '"' ? (strchr(p + 1, '"') ? strchr(p + 1, '"') + 1 : "") : p + strcspn(p, " \t");
  lstrcpynA(arg, p + strspn(p, " \t"), sizeof arg);
  if (arg[0] == '"' && (q = strchr(arg + 1, '"')) != NULL)
    *q = 0, memmove(arg, arg + 1, strlen(arg));
  CreateDirectoryA(BED "notepad", NULL);
  wsprintfA(name, BED "notepad\\%lu.copy", GetCurrentProcessId());
  copied = arg[0] && CopyFileA(arg, name, FALSE);
  wsprintfA(name, BED "notepad\\%lu.txt", GetCurrentProcessId());
  out_file = fopen(name, "w");
  out("module", "%s", module);
  out("cmdline", "%s", GetCommandLineA());
  out("arg", "%s", arg);
  out("existed", "%d", copied);
  return fclose(out_file);
}

static const char *planned(const char *key, int nth) {
  int i, n = strlen(key);
  for (i = 0; i < nplan; ++i)
    if (!strncmp(plan[i], key, n) && plan[i][n] == '=' && nth-- == 0)
      return plan[i] + n + 1;
  return NULL;
}

/* The pending renames, one name a line (a deletion's new name is an empty line). */
static void record_pending(void) {
  static char data[32768];
  DWORD type, size = sizeof data - 1, i;
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_QUERY_VALUE, &k) ||
      RegQueryValueExA(k, "PendingFileRenameOperations", NULL, &type, (BYTE *)data, &size))
    size = 0;
  for (i = 0; i < size; ++i)
    data[i] = data[i] ? data[i] : '\n';
  data[size] = 0;
  out("pending", "%s", data);
}

/* Notepad, and the wineboot that ExitWindowsEx starts, which carries out the pending renames
 * after ExitWindowsEx has returned: both must be done before anything is looked at. */
static int followers_running(void) {
  PROCESSENTRY32 pe;
  int found = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  pe.dwSize = sizeof pe;
  if (Process32First(snap, &pe))
    do
      found |= !lstrcmpiA(pe.szExeFile, "notepad.exe") || !lstrcmpiA(pe.szExeFile, "wineboot.exe");
    while (Process32Next(snap, &pe));
  CloseHandle(snap);
  return found;
}

static char buttons[256];
static int icon;

static BOOL CALLBACK look_at(HWND child, LPARAM unused) {
  char cls[64], text[64];
  (void)unused;
  GetClassNameA(child, cls, sizeof cls);
  GetWindowTextA(child, text, sizeof text);
  if (IsWindowVisible(child) && !lstrcmpiA(cls, "Button"))
    wsprintfA(buttons + strlen(buttons), "%s%d:%s", buttons[0] ? "," : "", GetDlgCtrlID(child),
              text);
  if (IsWindowVisible(child) && !lstrcmpiA(cls, "Static") && SendMessageA(child, STM_GETICON, 0, 0))
    icon = 1;
  return TRUE;
}

/* 1: pid is the program or a process it started (the 32-bit program's 64-bit one); 2: another
 * run. */
static int from_program(DWORD pid, DWORD program) {
  PROCESSENTRY32 pe = {sizeof pe, 0, 0, 0, 0, 0, 0, 0, 0, {0}};
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  int found = pid == program, more = Process32First(snap, &pe), i;
  for (; more && !found; more = Process32Next(snap, &pe))
    found = pe.th32ProcessID == pid && pe.th32ParentProcessID == program;
  for (i = 0; i < 8; ++i)
    found = others[i].dwProcessId == pid ? 2 : found;
  return CloseHandle(snap), found;
}

static void start_others(const char *trigger) {
  STARTUPINFOA si = {sizeof si, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  char line[2048];
  const char *item;
  int i;
  for (i = 0; i < 8 && (item = planned("second", i)) != NULL; ++i)
    if (!others[i].hProcess && !strncmp(item, trigger, 3) &&
        lstrcpynA(line, strchr(item, '|') + 1, 2048) &&
        CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &others[i]) &&
        *trigger == 'b')
      WaitForSingleObject(others[i].hProcess, 60000);
}

/* Records the box first (a reboot could end this process), then answers it as planned. */
static void answer(HWND box, DWORD program) {
  char key[32], text[4096];
  const char *word = planned("answer", 0);
  DWORD pid = 0;
  int i;
  buttons[0] = 0, icon = 0;
  EnumChildWindows(box, look_at, 0);
  GetWindowThreadProcessId(box, &pid);
  GetWindowTextA(box, text, sizeof text);
  wsprintfA(key, "box%d.caption", nboxes), out(key, "%s", text);
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  wsprintfA(key, "box%d.text", nboxes), out(key, "%s", text);
  wsprintfA(key, "box%d.look", nboxes);
  out(key, "%s icon=%d owner=%d program=%d", buttons, icon, GetWindow(box, GW_OWNER) != NULL,
      from_program(pid, program));
  ++nboxes;
  if (from_program(pid, program) == 1)
    start_others("box");
  /* A box with OK alone is answered as Escape does. */
  SendMessageA(GetDlgItem(box, strncmp(word, "ok", 2) && strcmp(buttons, "1:OK") ? IDCANCEL : IDOK),
               BM_CLICK, 0, 0);
  for (i = 0; i < 200 && IsWindowVisible(box); ++i)
    Sleep(10);
}

static DWORD run(const char *line, const char *dir, DWORD ms, int boxes) {
  STARTUPINFOA si = {sizeof si, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  PROCESS_INFORMATION pi;
  DWORD code = 0xFFFFFFFF, start = GetTickCount(), i;
  char buf[4096];
  HWND box;
  lstrcpynA(buf, line, sizeof buf);
  if (!CreateProcessA(NULL, buf, NULL, NULL, FALSE, 0, NULL, dir, &si, &pi)) {
    out("error", "CreateProcessA(%s) failed: %lu", line, GetLastError());
    return code;
  }
  while (WaitForSingleObject(pi.hProcess, 20) != WAIT_OBJECT_0) {
    if (boxes && (box = FindWindowA("#32770", NULL)) != NULL && IsWindowVisible(box))
      answer(box, pi.dwProcessId);
    if (GetTickCount() - start > ms)
      out("timeout", "1"), TerminateProcess(pi.hProcess, 0xDEAD);
    if (boxes && GetFileAttributesA("C:\\windows\\system32\\tolvanix.lock") != (DWORD)-1)
      start_others("lock");
  }
  GetExitCodeProcess(pi.hProcess, &code);
  for (i = 0; boxes && i < 8 && others[i].hProcess; ++i) {
    char key[16];
    DWORD other = WaitForSingleObject(others[i].hProcess, 20000);
    GetExitCodeProcess(others[i].hProcess, &other);
    wsprintfA(key, "second%lu", i), out(key, "%lu", other);
  }
  return code;
}

/* A set-up step: one of its own, else a command line run to its end. */
static DWORD set_up(char *step) {
  WNDCLASSA wc = {0, DefWindowProcA, 0, 0, NULL, NULL, NULL, NULL, NULL, NULL};
  char *title = strchr(step, '|');
  if (!strncmp(step, "hold ", 5) || !strncmp(step, "lock ", 5))
    return CreateFileA(step + 5, GENERIC_READ, step[0] == 'h' ? FILE_SHARE_READ : 0, NULL,
                       OPEN_EXISTING, 0, NULL) == INVALID_HANDLE_VALUE;
  if (!strncmp(step, "window ", 7) && title) {
    *title++ = 0, wc.lpszClassName = step + 7;
    RegisterClassA(&wc);
    return !CreateWindowA(step + 7, title, WS_OVERLAPPEDWINDOW, 0, 0, 9, 9, NULL, NULL, NULL, NULL);
  }
  return run(step, NULL, 30000, 0);
}

static int session(void) {
  char key[32], *value;
  const char *item;
  DWORD start;
  HKEY k;
  int i;
  FILE *f = fopen(BED "plan.txt", "r");
  out_file = fopen(BED "result.txt", "a");
  while (f && nplan < 64 && fgets(plan[nplan], sizeof plan[0], f))
    plan[nplan][strcspn(plan[nplan], "\n")] = 0, ++nplan;
  if (!RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, NULL, 0, KEY_SET_VALUE, NULL, &k,
                       NULL))
    RegSetValueExA(k, "Version", 0, REG_SZ, (const BYTE *)planned("version", 0),
                   lstrlenA(planned("version", 0)) + 1);
  fclose(fopen(BED "restart.src", "w"));
  out("marker", "%d",
      MoveFileExA(BED "restart.src", BED "restart.dst", MOVEFILE_DELAY_UNTIL_REBOOT));
  for (i = 0; (item = planned("pre", i)) != NULL; ++i)
    wsprintfA(key, "pre%d", i), out(key, "%lu", set_up((char *)item));
  for (i = 0; (item = planned("setenv", i)) != NULL; ++i)
    if ((value = strchr(item, '=')) != NULL)
      *value = 0, SetEnvironmentVariableA(item, value + 1);
  start = GetTickCount();
  out("exit", "%lu",
      run(planned("cmdline", 0), planned("cwd", 0), atol(planned("timeout_ms", 0)), 1));
  out("elapsed_ms", "%lu", GetTickCount() - start);
  for (i = 0; i < 500 && followers_running(); ++i)
    Sleep(20);
  if (followers_running())
    out("error", "notepad.exe or wineboot.exe still running after 10 s");
  out("boxes", "%d", nboxes);
  record_pending();
  out("done", "1");
  Sleep(INFINITE);
  return 0;
}

int main(void) {
  char module[MAX_PATH];
  GetModuleFileNameA(NULL, module, sizeof module);
  return lstrcmpiA(strrchr(module, '\\') + 1, "notepad.exe") ? session() : notepad();
}
