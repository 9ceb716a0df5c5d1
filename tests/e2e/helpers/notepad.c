/* Stands in for Notepad in a scenario's prefix (installed over C:\windows\notepad.exe and
 * C:\windows\system32\notepad.exe). Records how it was started and copies the file it was
 * given at once, because the program under test may delete that file two seconds later.
 * Record C:\tolvbed\notepad\<pid>.txt: module, cmdline, arg, existed; copy <pid>.copy. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static void put_escaped(FILE *f, const char *key, const char *s) {
  fprintf(f, "%s=", key);
  for (; *s; ++s) {
    unsigned char c = (unsigned char)*s;
    if (c == '\\')
      fputs("\\\\", f);
    else if (c == '\n')
      fputs("\\n", f);
    else if (c == '\r')
      fputs("\\r", f);
    else if (c < 0x20 || c >= 0x7f)
      fprintf(f, "\\x%02x", c);
    else
      fputc(c, f);
  }
  fputc('\n', f);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR args, int show) {
  char module[MAX_PATH], record[MAX_PATH], part[MAX_PATH], copy[MAX_PATH], arg[4096];
  const char *line = GetCommandLineA();
  const char *p = line;
  DWORD pid = GetCurrentProcessId();
  FILE *f;
  int existed;
  (void)inst;
  (void)prev;
  (void)args;
  (void)show;
  GetModuleFileNameA(NULL, module, sizeof module);
  /* Notepad takes everything after its own name as one file name, quotes removed. */
  if (*p == '"') {
    for (++p; *p && *p != '"'; ++p) {
    }
    if (*p)
      ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t')
      ++p;
  }
  while (*p == ' ' || *p == '\t')
    ++p;
  lstrcpynA(arg, p, sizeof arg);
  if (arg[0] == '"') {
    char *q;
    memmove(arg, arg + 1, strlen(arg));
    q = strchr(arg, '"');
    if (q)
      *q = 0;
  }
  CreateDirectoryA("C:\\tolvbed\\notepad", NULL);
  wsprintfA(copy, "C:\\tolvbed\\notepad\\%lu.copy", pid);
  existed = arg[0] && CopyFileA(arg, copy, FALSE);
  wsprintfA(part, "C:\\tolvbed\\notepad\\%lu.part", pid);
  wsprintfA(record, "C:\\tolvbed\\notepad\\%lu.txt", pid);
  f = fopen(part, "w");
  if (!f)
    return 1;
  put_escaped(f, "module", module);
  put_escaped(f, "cmdline", line);
  put_escaped(f, "arg", arg);
  fprintf(f, "existed=%d\n", existed);
  fclose(f);
  MoveFileA(part, record);
  return 0;
}
