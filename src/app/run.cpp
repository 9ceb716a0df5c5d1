#include "app/app.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "report/report.h"
#include "service/service.h"
#include "strings.h"

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

static char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Where word first stands in text, case-sensitive or not, outside [skip, skipEnd); null when it
// does not. lstr* offers no strstr.
static const char *Find(const char *text, const char *word, int anyCase = 0,
                        const char *skip = nullptr, const char *skipEnd = nullptr) {
  for (const char *at = text; *at; ++at) {
    int i = 0;
    while (word[i] && (at[i] == word[i] || (anyCase && at[i] && Upper(at[i]) == word[i])))
      ++i;
    if (word[i] == 0 && (!skip || at + i <= skip || at >= skipEnd))
      return at;
  }
  return nullptr;
}

void ApplyOptions(const char *args, RunOptions *options) {
  // "/LOG=FILE": FILE runs to the next blank, or between double quotes. It is a name, never a
  // switch, so the other options are not looked for in it.
  const char *logAt = Find(args, "/LOG=", 1);
  const char *logEnd = nullptr;
  if (logAt) {
    const char *file = logAt + 5;
    const char quote = *file == '"' ? '"' : 0;
    file += quote != 0;
    logEnd = file;
    while (*logEnd && (quote ? *logEnd != quote : *logEnd != ' ' && *logEnd != '\t'))
      ++logEnd;
    options->log = 1;
    // A name too long for a path is no name: the log then cannot be made.
    options->logFile[0] = 0;
    if (logEnd - file < MAX_PATH) {
      for (int i = 0; i < logEnd - file; ++i)
        options->logFile[i] = file[i];
      options->logFile[logEnd - file] = 0;
    }
    if (quote && *logEnd == quote)
      ++logEnd;
  }
  if (Find(args, "/OS=NT", 0, logAt, logEnd))
    options->tag = kOsTagNT;
  if (Find(args, "/OS=2000", 0, logAt, logEnd))
    options->tag = kOsTag2K;
  if (Find(args, "/FOW", 0, logAt, logEnd))
    options->force = 1;
  // Typed as msiexec taught it ("/quiet"): a box nobody can answer must never wait instead.
  if (Find(args, "/QUIET", 1, logAt, logEnd))
    options->quiet = 1;
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

// The patch in its order: the print processors with the spooler stopped, the companion told
// to stop its helper service around the system files.
static RunOutcome RunPatch(const RunOptions &given, unsigned osClass, char *message) {
  RunOutcome outcome;
  FillBytes(&outcome, sizeof outcome, 0);
  // What earlier runs left for the restart, read once for every copy of this one.
  PendingOperations pending;
  LoadPendingOperations(&pending);
  RunOptions options = given;
  options.pending = &pending;
  outcome.packageUnusable = FindPackageProblem(nullptr, options.tag) != kPackageUsable;
  // A deployment tool must not hear "done" from a machine that can no longer print.
  int spoolerRan = 0;
  if (PatchesPrintProcessor(osClass)) {
    spoolerRan = options.quiet && IsServiceRunning("spooler");
    StopSpoolService("spooler");
    // The stop request does not wait for the spooler to let go of its files.
    Os.Sleep(1500);
    PatchPrintProcessor(options, &outcome);
    Os.Sleep(1000);
    StartSpoolService("spooler");
  }
  LoadPrintProcessor();
  KvSplServiceControl(kStopRequest);
  PatchSystemFiles(options, &outcome);
  KvSplServiceControl(kStartRequest);
  UnloadPrintProcessor();
  FreePendingOperations(&pending);
  outcome.companionCrashed = CompanionCrashed();
  if (spoolerRan && !WaitForServiceRunning("spooler", 30000))
    outcome.spoolerDown = 1;
  Os.LoadStringA(ProgramInstance, IDS_RESTART, message, kTextCapacity);
  return outcome;
}

int RunTolvanix(HINSTANCE instance, const char *args) {
  char captionFormat[kTextCapacity];
  char maker[kTextCapacity];
  char caption[kTextCapacity];
  char message[kTextCapacity];

  message[0] = 0;
  caption[0] = 0;
  captionFormat[0] = 0;
  ProgramInstance = instance;

  Os.LoadStringA(ProgramInstance, IDS_CAPTION, captionFormat, kTextCapacity);
  ReadPatchConfigValue("tolvanix", "Manufacturer", "Kestova", maker, kTextCapacity);
  // Only a person reads the caption, so an overlong maker word is clipped, not refused.
  FormatDisplayText(caption, kTextCapacity, captionFormat, maker);

  unsigned char letter = 0;
  int haveLetter = FindModeLetter(args, &letter);

  unsigned osClass = GetOsClass();
  if (osClass == kOsClass9x)
    return 0;
  RunOptions options;
  FillBytes(&options, sizeof options, 0);
  options.tag = osClass == kOsClassNT4 ? kOsTagNT : kOsTag2K;

  if (!haveLetter)
    letter = LetterFromFileName();
  ApplyOptions(args, &options);

#ifdef _WIN64
  // On 64-bit Windows the 64-bit files are the package, whatever "/OS=" chose.
  options.tag = kOsTagX64;
#endif
  RunOutcome outcome;
  FillBytes(&outcome, sizeof outcome, 0);
  RunMode mode = SelectRunMode(letter);
  if (options.log && !OpenRunLog(options.logFile))
    // A run that leaves no record where one was asked for could not be accounted for.
    return RefuseRun(options.quiet, kExitLogNotMade, IDS_LOG_NOT_MADE, caption, options.logFile);
  int handedOn = 0;
  if (RunNativeHalf(args, haveLetter, mode, options.quiet, caption, &handedOn)) {
    KeepRunLog();
    return handedOn;
  }
  // The runs that change the system take turns; the report and the version change nothing. A
  // second run's log would only replace the first one's at FILE: it goes, unwritten.
  if (mode != Diagnose && mode != Version && TakeRunLock() == kAnotherRun) {
    DiscardRunLog();
    return RefuseRun(options.quiet, kExitAnotherRun, IDS_ANOTHER_RUN, caption);
  }
  switch (mode) {
  case Diagnose:
    WriteDiagnosticReport(!options.quiet);
    KeepRunLog();
    return 0;
  case LogPatch: {
    MakeErrorLogName();
    outcome = RunPatch(options, osClass, message);
    // Unattended, nobody reads the log in Notepad: it stays under a name the README gives.
    if (options.quiet) {
      KeepErrorLog();
      break;
    }
    const char *log = CloseErrorLog();
    KeepRunLog();
    // Before Notepad: a log left open there keeps no other run out.
    ReleaseRunLock();
    StartNotepad(log);
    Os.Sleep(2000);
    DeleteErrorLog();
    break;
  }
  case Uninstall:
    LoadPrintProcessor();
    KvSplServiceControl(kStopRequest);
    UnloadPrintProcessor();
    outcome.companionCrashed = CompanionCrashed();
    Os.LoadStringA(ProgramInstance, IDS_UNINSTALLED, message, kTextCapacity);
    break;
  case Version:
    Os.LoadStringA(ProgramInstance, IDS_VERSION, message, kTextCapacity);
    break;
  case Patch:
    outcome = RunPatch(options, osClass, message);
    break;
  }
  // In place before the box, which may wait for an answer for ever, and while the lock still
  // keeps the next run's log from being put there first.
  KeepRunLog();
  // Before the box: an unanswered box keeps no other run out.
  ReleaseRunLock();
  // No box and so never a restart: the deployment tool decides that, told by the exit code.
  if (options.quiet) {
    if (mode == Version)
      return kExitDone;
    // Whatever the companion did, its removal of the service is finished by the restart.
    if (mode == Uninstall)
      outcome.restartOperations = 1;
    return PatchExitCode(outcome);
  }
  return ShowClosingBox(message, caption);
}
