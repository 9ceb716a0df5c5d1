// tolvanix-check's entry. Without a C runtime the loader calls tolvanix_check_start directly;
// it finds the argument text and hands it to RunCheck, so that all the logic links into the
// unit tests too.
#include <windows.h>

#include "check/check.h"
#include "common/common.h"
#include "platform/platform.h"

extern "C" void tolvanix_check_start() {
  BindPlatform();
  BindCheckPlatform();
  Check.output = CheckOs.GetStdHandle(STD_OUTPUT_HANDLE);
  int code = RunCheck(SkipProgramName(GetCommandLineA()));
  ExitProcess(static_cast<UINT>(code));
}
