#include "common/common.h"
#include "platform/platform.h"
#include "platform/text.h"

const OsTag kOsTagNT = {{'N', 'T', 0, 0}};
const OsTag kOsTag2K = {{'2', 'K', 0, 0}};

HINSTANCE ProgramInstance;

int PatchExitCode(const RunOutcome &outcome) {
  if (outcome.anotherRun)
    return kExitAnotherRun;
  if (outcome.packageUnusable)
    return kExitPackageUnusable;
  if (outcome.failures || outcome.spoolerDown || outcome.companionCrashed)
    return kExitFailed;
  return outcome.restartOperations ? kExitRestartNeeded : kExitDone;
}

unsigned GetOsClass() {
  OSVERSIONINFOA info;
  // A failed query must not classify from stack garbage: with the fields zeroed, a failure
  // reads as platform 0, version 0.0 and so falls to class 13, the class whose patch run does
  // the most checking and the least guessing (the NT-family code paths with the 2K package).
  FillBytes(&info, sizeof info, 0);
  info.dwOSVersionInfoSize = sizeof info;
  Os.GetVersionExA(&info);
  if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    return kOsClass9x;
  if (info.dwMajorVersion == 4)
    return kOsClassNT4;
  if (info.dwMajorVersion == 5 && info.dwMinorVersion == 0)
    return kOsClass2000;
  return kOsClassXP;
}

int GetProgramFileName(Path &buffer) {
  buffer[0] = 0;
  // Read with room to spare: a name that fills the buffer may have been cut, and a cut name
  // leads to another file or folder.
  char name[2 * MAX_PATH];
  DWORD length = Os.GetModuleFileNameA(ProgramInstance, name, sizeof name);
  if (length == 0 || length >= sizeof name - 1 || length >= sizeof buffer)
    return 0;
  name[length] = 0;
  for (DWORD i = 0; i <= length; ++i)
    buffer[i] = name[i];
  return static_cast<int>(length);
}

int GetProgramDirectory(Path &buffer) {
  if (GetProgramFileName(buffer) == 0)
    return 0;
  int last = -1;
  for (int i = 0; buffer[i]; ++i)
    if (buffer[i] == '\\')
      last = i;
  if (last < 0) {
    buffer[0] = 0;
    return 1;
  }
  buffer[last] = 0;
  if (last > 0 && buffer[last - 1] == '\\')
    buffer[last - 1] = 0;
  return 1;
}

const char *SkipProgramName(const char *line) {
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
