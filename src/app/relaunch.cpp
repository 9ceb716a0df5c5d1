// The run on 64-bit Windows: the 32-bit program hands it to the 64-bit one beside it, and a
// program with no half of the package for this system refuses before it touches anything.
#include "app/app.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"
#include "strings.h"

int RunNativeHalf(const char *args, int haveLetter, RunMode mode, int quiet, const char *caption,
                  int *exitCode) {
  NativeHalf half = FindNativeHalf();
#ifdef _WIN64
  // The 64-bit program is the native half: only its own package files are there to lose.
  (void)args, (void)haveLetter;
  if (half == kThisHalf && HaveHalf64(nullptr))
    return 0;
#else
  if (half == kThisHalf)
    return 0;
  if (half == kHalf64 && HaveHalf64(kPatcher64Name)) {
    // The mode this program's name chose goes on as its switch: the 64-bit program's own name
    // chooses the patch, which is also what every other first letter means.
    char switchText[4] = {'/', "-DLUV"[mode], ' ', 0};
    int size = lstrlenA(args) + sizeof switchText;
    char *line = static_cast<char *>(Os.LocalAlloc(LPTR, static_cast<SIZE_T>(size)));
    DWORD code = 0;
    int ran = 0;
    if (line) {
      if (!haveLetter && mode != Patch)
        lstrcpyA(line, switchText);
      lstrcpyA(line + lstrlenA(line), args);
      ran = RunBesideProgram(kPatcher64Name, line, 0, &code);
      Os.LocalFree(line);
    }
    // The 64-bit program wrote the run's log, if one was asked for; this one's is not put over it.
    if (ran)
      DiscardRunLog();
    // Not started: nothing was done here either, and the tool must not hear "done".
    if (!ran)
      code = quiet ? kExitFailed
                   : RefuseRun(quiet, kExitNoPackageForPlatform, IDS_WRONG_PROCESSOR, caption);
    *exitCode = static_cast<int>(code);
    return 1;
  }
#endif
  // The version text says nothing about the system: it is shown whatever half is missing.
  if (mode == Version)
    return 0;
  *exitCode = RefuseRun(quiet, kExitNoPackageForPlatform, IDS_WRONG_PROCESSOR, caption);
  return 1;
}
