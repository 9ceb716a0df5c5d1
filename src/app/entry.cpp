// The program's entry. Without a C runtime the loader calls tolvanix_start directly; it finds
// the argument text the way a runtime's start-up does and hands it to WinMain, so that all the
// logic lives in code the unit tests link too.
#include <windows.h>

#include "app/app.h"
#include "platform/library.h"
#include "platform/platform.h"
#include "service/service.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR args, int) {
  BindPlatform();
  RestrictLibrarySearch();
  return RunTolvanix(instance, args);
}

extern "C" void tolvanix_start() {
  const char *args = SkipProgramName(GetCommandLineA());
  int code = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(args), SW_SHOWDEFAULT);
  // A companion library that faulted was left loaded: the exit would call its detach, under the
  // loader lock, and it may fault or hang there too. The log is kept and the box answered by now.
  if (CompanionLeftLoaded())
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));
}
