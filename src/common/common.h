// What every layer of both programs may know about the running program: the system it runs on,
// its own file and folder, the options that reach below the run control, and Notepad.
#pragma once

#include <windows.h>

// The package folder's name for the system: two letters and two zero bytes, passed by value.
struct OsTag {
  char text[4];
};
extern const OsTag kOsTagNT;
extern const OsTag kOsTag2K;

enum OsClass : unsigned { kOsClass9x = 10, kOsClassNT4 = 11, kOsClass2000 = 12, kOsClassXP = 13 };

// The path buffers of the program: the platform's limit, terminator included.
typedef char Path[MAX_PATH];

// The text buffers of both programs' messages, captions and configuration values.
static const int kTextCapacity = 300;

// The one process-wide value, set at start: the program's instance, whose string table both
// programs read.
extern HINSTANCE ProgramInstance;

// The options a run is started with, handed down to every layer that acts on them.
struct RunOptions {
  OsTag tag; // the package folder's name: the files for this Windows, or "/OS=" chose
  int force; // "/FOW": the version gate lets every file through
  int quiet; // "/QUIET": no box, no Notepad, no restart, an exit code instead
};

// What a run did, handed back up from the copies: the quiet exit code and the plan read it.
struct RunOutcome {
  int failures;          // lines logged for a listed file that could not be replaced
  int restartOperations; // operations registered for the next restart
  int replaced;          // files replaced at once
  int packageUnusable;   // no tolvanix.ini, no program folder, or a listed file but no package
  int spoolerDown;       // the spooler ran when the run started and did not run again
};

// What a quiet run tells the deployment tool that started it, in Windows Installer's codes.
// The first that applies wins, in this order.
static const int kExitAnotherRun = 1618;           // another run holds the lock: nothing done
static const int kExitNoPackageForPlatform = 1633; // this Windows' platform has no package files
static const int kExitPackageUnusable = 1619;
static const int kExitFailed = 1603;
static const int kExitRestartNeeded = 3010;
static const int kExitDone = 0;
// The quiet exit code of a patch run from what it did: 1619, 1603, 3010 when a restart
// operation waits, else 0.
int PatchExitCode(const RunOutcome &outcome);

// program.cpp
unsigned GetOsClass();
// The program's full file name. Returns its length, or 0 with the buffer empty when it cannot be
// read or does not fit (never a cut name).
int GetProgramFileName(Path &buffer);
// The program's folder without a trailing backslash. Returns 1, or 0 with the buffer empty when
// the program's file name is unknown (unreadable, or too long for the buffer).
int GetProgramDirectory(Path &buffer);
// What follows the program's own name on a command line (quoted or not), blanks skipped: the
// argument text a C runtime's start-up would hand to WinMain.
const char *SkipProgramName(const char *commandLine);

// notepad.cpp
// Starts Notepad from the system (else Windows) directory with "notepad  <fileName>". Returns
// 1 when it started, 0 when it did not (also when the command line would not fit).
int StartNotepad(const char *fileName);
