// tolvanix-check's entry. Without a C runtime the loader calls tolvanix_check_start directly;
// it finds the argument text and hands it to RunCheck, so that all the logic links into the
// unit tests too.
#include <windows.h>

#include "check/check.h"
#include "platform/platform.h"

// What follows the program's own name on the command line (quoted or not), blanks skipped.
static const char *SkipProgramName(const char *line) {
  if (*line == '"') {
    ++line;
    while (*line && *line != '"')
      ++line;
    if (*line == '"')
      ++line;
  } else {
    while (static_cast<unsigned char>(*line) > ' ')
      ++line;
  }
  while (*line && static_cast<unsigned char>(*line) <= ' ')
    ++line;
  return line;
}

extern "C" void tolvanix_check_start() {
  BindPlatform();
  CheckOutput = Os.GetStdHandle(STD_OUTPUT_HANDLE);
  int code = RunCheck(SkipProgramName(GetCommandLineA()));
  ExitProcess(static_cast<UINT>(code));
}
