/* The scenario's session holder. Started once per scenario as the first Wine process of the
 * prefix, it owns the session from set-up to the last look at it:
 *
 *   1. sets Wine's Windows version for the programs it starts (HKCU\Software\Wine, Version);
 *   2. registers the restart marker, a rename that only a restart carries out;
 *   3. runs the plan's set-up command lines, then the program under test with the plan's exact
 *      command line and current directory;
 *   4. while the program runs, answers every message box (recording it first) as planned;
 *   5. after the program ends, waits for the Notepad stand-ins, records the pending rename
 *      operations and the exit code, writes "done";
 *   6. then sleeps until wineserver -k ends it, so that the session, and with it every
 *      pending operation, stays alive while the harness looks at the prefix.
 *
 * Everything it learns goes to C:\tolvbed\result.txt as key=value lines, values escaped
 * (\\, \n, \r, \t, \xHH), appended and flushed as it goes so a hung run still leaves a trace.
 * Its plan is C:\tolvbed\plan.txt in the same form: version, answer (one word per box: ok,
 * cancel, escape; the last one repeats), cmdline, cwd, timeout_ms, pre (repeatable), setenv
 * (repeatable, NAME=VALUE: the program's environment, set after the set-up commands). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <tlhelp32.h>

#define BED "C:\\tolvbed"
static FILE *result;

static void put_escaped(FILE *f, const char *s, size_t n) {
  size_t i;
  for (i = 0; i < n; ++i) {
    unsigned char c = (unsigned char)s[i];
    if (c == '\\')
      fputs("\\\\", f);
    else if (c == '\n')
      fputs("\\n", f);
    else if (c == '\r')
      fputs("\\r", f);
    else if (c == '\t')
      fputs("\\t", f);
    else if (c < 0x20 || c >= 0x7f)
      fprintf(f, "\\x%02x", c);
    else
      fputc(c, f);
  }
}

static void out(const char *key, const char *value) {
  fprintf(result, "%s=", key);
  put_escaped(result, value, strlen(value));
  fputc('\n', result);
  fflush(result);
}

static void outf(const char *key, const char *fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  _vsnprintf(buf, sizeof buf - 1, fmt, ap);
  buf[sizeof buf - 1] = 0;
  va_end(ap);
  out(key, buf);
}

static void unescape(char *s) {
  char *w = s;
  while (*s) {
    if (*s == '\\' && s[1]) {
      ++s;
      if (*s == 'n')
        *w++ = '\n';
      else if (*s == 'r')
        *w++ = '\r';
      else if (*s == 't')
        *w++ = '\t';
      else if (*s == 'x' && s[1] && s[2]) {
        char hex[3] = {s[1], s[2], 0};
        *w++ = (char)strtol(hex, NULL, 16);
        s += 2;
      } else
        *w++ = *s;
      ++s;
    } else
      *w++ = *s++;
  }
  *w = 0;
}

static char version[64], answers[256], cmdline[4096], cwd[MAX_PATH];
static char pre[16][1024];
static int npre;
static char setenv_[8][1024];
static int nsetenv;
static DWORD timeout_ms = 20000;

static int read_plan(void) {
  char line[4096];
  FILE *f = fopen(BED "\\plan.txt", "r");
  if (!f)
    return 0;
  while (fgets(line, sizeof line, f)) {
    char *eq, *nl = strchr(line, '\n');
    if (nl)
      *nl = 0;
    eq = strchr(line, '=');
    if (!eq)
      continue;
    *eq++ = 0;
    unescape(eq);
    if (!strcmp(line, "version"))
      lstrcpynA(version, eq, sizeof version);
    else if (!strcmp(line, "answer"))
      lstrcpynA(answers, eq, sizeof answers);
    else if (!strcmp(line, "cmdline"))
      lstrcpynA(cmdline, eq, sizeof cmdline);
    else if (!strcmp(line, "cwd"))
      lstrcpynA(cwd, eq, sizeof cwd);
    else if (!strcmp(line, "timeout_ms"))
      timeout_ms = (DWORD)atol(eq);
    else if (!strcmp(line, "pre") && npre < 16)
      lstrcpynA(pre[npre++], eq, sizeof pre[0]);
    else if (!strcmp(line, "setenv") && nsetenv < 8)
      lstrcpynA(setenv_[nsetenv++], eq, sizeof setenv_[0]);
  }
  fclose(f);
  return 1;
}

/* The rename operations waiting for a restart, as one line per name of the multi-string. */
static void record_pending(const char *key) {
  HKEY k;
  char data[32768];
  DWORD type = 0, size = sizeof data - 2;
  char buf[40000];
  size_t used = 0;
  LONG rc;
  buf[0] = 0;
  rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                     KEY_QUERY_VALUE, &k);
  if (rc == ERROR_SUCCESS) {
    rc = RegQueryValueExA(k, "PendingFileRenameOperations", NULL, &type, (BYTE *)data, &size);
    RegCloseKey(k);
  }
  if (rc == ERROR_SUCCESS) {
    DWORD i = 0;
    data[size] = data[size + 1] = 0;
    /* Every name, the empty target of a deletion included, ends in a zero; the list ends at
     * the end of the data (Wine and Windows also end it with an extra zero). */
    while (i < size) {
      size_t n = strlen(data + i);
      if (used + n + 2 >= sizeof buf)
        break;
      memcpy(buf + used, data + i, n);
      used += n;
      buf[used++] = '\n';
      i += (DWORD)n + 1;
      if (i + 1 >= size && data[i] == 0)
        break;
    }
    buf[used] = 0;
  }
  outf(key, "%s", buf);
}

/* Notepad stand-ins, and the wineboot that ExitWindowsEx starts: it carries out the pending
 * renames after ExitWindowsEx has returned, so it must be done before anything is looked at. */
static int followers_running(void) {
  PROCESSENTRY32 pe;
  int found = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE)
    return 0;
  pe.dwSize = sizeof pe;
  if (Process32First(snap, &pe)) {
    do {
      if (!lstrcmpiA(pe.szExeFile, "notepad.exe") || !lstrcmpiA(pe.szExeFile, "wineboot.exe"))
        found = 1;
    } while (!found && Process32Next(snap, &pe));
  }
  CloseHandle(snap);
  return found;
}

static int nboxes;
static char buttons[256];
static int icon_shown;

static BOOL CALLBACK look_at_child(HWND child, LPARAM unused) {
  char cls[64], text[256];
  (void)unused;
  GetClassNameA(child, cls, sizeof cls);
  if (!IsWindowVisible(child))
    return TRUE;
  if (!lstrcmpiA(cls, "Button")) {
    GetWindowTextA(child, text, sizeof text);
    if (buttons[0])
      lstrcatA(buttons, ",");
    if (lstrlenA(buttons) + 40 < (int)sizeof buttons)
      wsprintfA(buttons + lstrlenA(buttons), "%d:%s", GetDlgCtrlID(child), text);
  } else if (!lstrcmpiA(cls, "Static")) {
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON && SendMessageA(child, STM_GETICON, 0, 0))
      icon_shown = 1;
  }
  return TRUE;
}

static const char *answer_for(int index) {
  static char word[32];
  const char *p = answers;
  int i;
  for (i = 0; i < index; ++i) {
    const char *c = strchr(p, ',');
    if (!c)
      break;
    p = c + 1;
  }
  lstrcpynA(word, p, sizeof word);
  if (strchr(word, ','))
    *strchr(word, ',') = 0;
  return word[0] ? word : "cancel";
}

/* Records the box, then answers it: the record is written first, because a forced reboot
 * could end this process. */
static void answer_box(HWND box, DWORD program_pid) {
  char key[64], text[4096];
  DWORD pid = 0;
  const char *word = answer_for(nboxes);
  int i;
  wsprintfA(key, "box%d.caption", nboxes);
  GetWindowTextA(box, text, sizeof text);
  out(key, text);
  wsprintfA(key, "box%d.text", nboxes);
  text[0] = 0;
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  out(key, text);
  buttons[0] = 0;
  icon_shown = 0;
  EnumChildWindows(box, look_at_child, 0);
  wsprintfA(key, "box%d.buttons", nboxes);
  out(key, buttons);
  wsprintfA(key, "box%d.icon", nboxes);
  outf(key, "%d", icon_shown);
  GetWindowThreadProcessId(box, &pid);
  wsprintfA(key, "box%d.from_program", nboxes);
  outf(key, "%d", pid == program_pid);
  wsprintfA(key, "box%d.owner", nboxes);
  outf(key, "%d", GetWindow(box, GW_OWNER) != NULL);
  wsprintfA(key, "box%d.pending", nboxes);
  record_pending(key);
  wsprintfA(key, "box%d.answer", nboxes);
  out(key, word);
  ++nboxes;
  if (!lstrcmpA(word, "ok"))
    SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  else if (!lstrcmpA(word, "escape"))
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
  else
    SendMessageA(GetDlgItem(box, IDCANCEL), BM_CLICK, 0, 0);
  for (i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i)
    Sleep(10);
}

static DWORD run_and_wait(const char *line, const char *dir, DWORD ms, DWORD *pid, int boxes) {
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  DWORD code = 0xFFFFFFFF, start = GetTickCount();
  char buf[4096];
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  lstrcpynA(buf, line, sizeof buf);
  if (!CreateProcessA(NULL, buf, NULL, NULL, FALSE, 0, NULL, dir[0] ? dir : NULL, &si, &pi)) {
    outf("error", "CreateProcessA(%s) failed: %lu", line, GetLastError());
    return code;
  }
  if (pid)
    *pid = pi.dwProcessId;
  for (;;) {
    if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0)
      break;
    if (boxes) {
      HWND box = FindWindowA("#32770", NULL);
      if (box && IsWindowVisible(box))
        answer_box(box, pi.dwProcessId);
    }
    if (GetTickCount() - start > ms) {
      out("timeout", "1");
      TerminateProcess(pi.hProcess, 0xDEAD);
      WaitForSingleObject(pi.hProcess, 5000);
      break;
    }
  }
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

int main(void) {
  HKEY k;
  DWORD pid = 0, code, start;
  int i;
  result = fopen(BED "\\result.txt", "a");
  if (!result)
    return 2;
  if (!read_plan()) {
    out("error", "no plan");
    return 2;
  }
  if (version[0]) {
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, NULL, 0, KEY_SET_VALUE, NULL,
                              &k, NULL);
    if (rc == ERROR_SUCCESS) {
      rc = RegSetValueExA(k, "Version", 0, REG_SZ, (const BYTE *)version, lstrlenA(version) + 1);
      RegCloseKey(k);
    }
    outf("version_set", "%ld", rc);
  }
  CloseHandle(CreateFileA(BED "\\restart.src", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  outf("marker_registered", "%d",
       MoveFileExA(BED "\\restart.src", BED "\\restart.dst", MOVEFILE_DELAY_UNTIL_REBOOT));
  record_pending("pending_before");
  for (i = 0; i < npre; ++i) {
    char key[32];
    wsprintfA(key, "pre%d.exit", i);
    outf(key, "%lu", run_and_wait(pre[i], "", 30000, NULL, 0));
  }
  for (i = 0; i < nsetenv; ++i) {
    char *value = strchr(setenv_[i], '=');
    if (value) {
      *value++ = 0;
      SetEnvironmentVariableA(setenv_[i], value);
    }
  }
  out("started", "1");
  start = GetTickCount();
  code = run_and_wait(cmdline, cwd, timeout_ms, &pid, 1);
  outf("elapsed_ms", "%lu", GetTickCount() - start);
  outf("exit", "%lu", code);
  /* Notepad gets no wait from the program in some modes, and a restart request is carried
   * out by a wineboot that outlives the program: let them finish. */
  for (i = 0; i < 500 && followers_running(); ++i)
    Sleep(20);
  if (followers_running())
    out("error", "notepad.exe or wineboot.exe still running after 10 s");
  outf("boxes", "%d", nboxes);
  record_pending("pending_after");
  out("done", "1");
  fclose(result);
  Sleep(INFINITE);
  return 0;
}
