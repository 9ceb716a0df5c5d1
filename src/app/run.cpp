#include "app/app.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "report/report.h"
#include "service/service.h"

int QuietRun;

static const int kTextCapacity = 300;
// What a quiet run tells the deployment tool that started it, in Windows Installer's codes.
static const int kExitRestartNeeded = 3010;
static const int kExitFailed = 1603;

int FindModeLetter(const char *args, unsigned char *letter) {
  for (const char *p = args; *p; ++p) {
    if (*p == '/') {
      if (p[1] == 0)
        return 0;
      *letter = static_cast<unsigned char>(p[1]);
      return 1;
    }
  }
  return 0;
}

RunMode SelectRunMode(unsigned char letter) {
  switch (letter) {
  case 'D':
  case 'd':
    return Diagnose;
  case 'L':
  case 'l':
    return LogPatch;
  case 'U':
  case 'u':
    return Uninstall;
  case 'V':
  case 'v':
    return Version;
  default:
    return Patch;
  }
}

// Case-sensitive substring search; lstr* offers no strstr.
static int Contains(const char *text, const char *word) {
  for (; *text; ++text) {
    int i = 0;
    while (word[i] && text[i] == word[i])
      ++i;
    if (word[i] == 0)
      return 1;
  }
  return 0;
}

void ApplyOptions(const char *args, OsTag *tag) {
  if (Contains(args, "/OS=NT"))
    *tag = kOsTagNT;
  if (Contains(args, "/OS=2000"))
    *tag = kOsTag2K;
  if (Contains(args, "/FOW"))
    ForceOverwrite = 1;
  if (Contains(args, "/QUIET"))
    QuietRun = 1;
}

// The first letter of the program's own file name; none (the patch) when the name is unknown,
// since the last part of a cut name is no file name.
static unsigned char LetterFromFileName() {
  char name[MAX_PATH];
  GetProgramFileName(name);
  int start = 0;
  for (int i = lstrlenA(name) - 1; i >= 0; --i) {
    if (name[i] == '\\') {
      start = i + 1;
      break;
    }
  }
  return static_cast<unsigned char>(name[start]);
}

static void RunPatch(OsTag tag, char *message) {
  PatchPrintProcessor(tag);
  LoadPrintProcessor();
  KvSplServiceControl(kStopRequest);
  PatchSystemFiles(tag);
  KvSplServiceControl(kStartRequest);
  UnloadPrintProcessor();
  Os.LoadStringA(ProgramInstance, 3, message, kTextCapacity);
}

int RunTolvanix(HINSTANCE instance, const char *args) {
  char captionFormat[kTextCapacity];
  char maker[kTextCapacity];
  char caption[kTextCapacity];
  char message[kTextCapacity];

  ErrorLogEnabled = 0;
  message[0] = 0;
  caption[0] = 0;
  captionFormat[0] = 0;
  ProgramInstance = instance;

  Os.LoadStringA(ProgramInstance, 2, captionFormat, kTextCapacity);
  ReadPatchConfigValue("tolvanix", "Manufacturer", "Kestova", maker, kTextCapacity);
  // Only a person reads the caption, so an overlong maker word is clipped, not refused.
  FormatDisplayText(caption, kTextCapacity, captionFormat, maker);

  unsigned char letter = 0;
  int haveLetter = FindModeLetter(args, &letter);

  unsigned osClass = GetOsClass();
  if (osClass == kOsClass9x)
    return 0;
  OsTag tag = osClass == kOsClassNT4 ? kOsTagNT : kOsTag2K;

  if (!haveLetter)
    letter = LetterFromFileName();
  ApplyOptions(args, &tag);

#ifdef _WIN64
  // On 64-bit Windows the 64-bit files are the package, whatever "/OS=" chose.
  tag = kOsTagX64;
#endif

  RunMode mode = SelectRunMode(letter);
  int handedOn = 0;
  if (RunNativeHalf(args, haveLetter, mode, caption, &handedOn))
    return handedOn;
  switch (mode) {
  case Diagnose:
    WriteDiagnosticReport(!QuietRun);
    return 0;
  case LogPatch: {
    ErrorLogEnabled = 1;
    MakeErrorLogName();
    RunPatch(tag, message);
    // Unattended, nobody reads the log in Notepad: it stays under a name the README gives.
    if (QuietRun) {
      KeepErrorLog();
      break;
    }
    StartNotepad(CloseErrorLog());
    Os.Sleep(2000);
    DeleteErrorLog();
    break;
  }
  case Uninstall:
    LoadPrintProcessor();
    KvSplServiceControl(kStopRequest);
    UnloadPrintProcessor();
    Os.LoadStringA(ProgramInstance, 4, message, kTextCapacity);
    break;
  case Version:
    Os.LoadStringA(ProgramInstance, 1, message, kTextCapacity);
    break;
  case Patch:
    RunPatch(tag, message);
    break;
  }
  // No box and so never a restart: the deployment tool decides that, told by the exit code.
  if (QuietRun) {
    if (mode == Version)
      return 0;
    return ReplaceFailures ? kExitFailed : kExitRestartNeeded;
  }
  return ShowClosingBox(message, caption);
}
