// The program's entry. Without a C runtime the loader calls tolvanix_start directly; it finds
// the argument text the way a runtime's start-up does and hands it to WinMain, so that all the
// logic lives in code the unit tests link too.
#include <windows.h>

#include "app/app.h"
#include "platform/platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR args, int) {
  BindPlatform();
  return RunTolvanix(instance, args);
}

// What follows the program's own name on the command line (quoted or not), blanks skipped.
static char *SkipProgramName(char *line) {
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

extern "C" void tolvanix_start() {
  char *args = SkipProgramName(GetCommandLineA());
  int code = WinMain(GetModuleHandleA(nullptr), nullptr, args, SW_SHOWDEFAULT);
  ExitProcess(static_cast<UINT>(code));
}
