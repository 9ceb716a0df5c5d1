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

struct PendingOperations;

// The options a run is started with, handed down to every layer that acts on them.
struct RunOptions {
  OsTag tag; // the package folder's name: the files for this Windows, or "/OS=" chose
  int force; // "/FOW": the version gate lets every file through
  int quiet; // "/QUIET": no box, no Notepad, no restart, an exit code instead
  int log;   // "/LOG=FILE": the run's log goes to logFile (empty when FILE is no usable name)
  char logFile[MAX_PATH];
  // The restart operations read when the run began, brought up to date after each it adds;
  // null: each copy reads them for itself.
  PendingOperations *pending;
};

// What a run did, handed back up from the copies: the quiet exit code and the plan read it.
struct RunOutcome {
  int failures;          // lines logged for a listed file that could not be replaced
  int restartOperations; // operations registered for the next restart
  int replaced;          // files replaced at once
  int packageUnusable;   // no tolvanix.ini, no program folder, or a listed file but no package
  int spoolerDown;       // the spooler ran when the run started and did not run again
  int anotherRun;        // another run held the lock: nothing was done
  int companionCrashed;  // an export of the companion library faulted
};

// What a quiet run tells the deployment tool that started it, in Windows Installer's codes.
// The first that applies wins, in this order.
static const int kExitLogNotMade = 1622;           // the "/LOG=" file cannot be made: nothing done
static const int kExitNoPackageForPlatform = 1633; // this Windows' platform has no package files
static const int kExitAnotherRun = 1618;           // another run holds the lock: nothing done
static const int kExitPackageUnusable = 1619;
static const int kExitFailed = 1603;
static const int kExitRestartNeeded = 3010;
static const int kExitDone = 0;
// The quiet exit code of a patch run from what it did: 1618, 1619, 1603, 3010 when a restart
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

// native.cpp
// This build's half of a package. On 64-bit Windows only the 64-bit programs patch: a 32-bit
// program sees system32 redirected to SysWOW64 and the spooler's folder for 32-bit clients, and
// cannot load a 64-bit companion library. The 64-bit half's package files and companion library
// lie in modules\X64, and its programs beside the 32-bit ones under these names.
extern const OsTag kOsTagX64;
inline constexpr char kNativePackageFolder[] = "modules\\X64";
inline constexpr char kPatcher64Name[] = "tolvanix64.exe";
inline constexpr char kCheck64Name[] = "tolvanix-check64.exe";
#ifdef _WIN64
inline constexpr char kPrintProcessorFolder[] = "x64"; // what the 64-bit spooler loads
inline constexpr char kBuildArchitecture[] = "x64";
#else
inline constexpr char kPrintProcessorFolder[] = "w32x86";
inline constexpr char kBuildArchitecture[] = "x86";
#endif

// What this program runs on, as far as its half of the package goes.
enum NativeHalf {
  kThisHalf, // the system's own architecture: this program patches (and 32-bit Windows)
  kHalf64,   // the 32-bit program on x64 Windows: the 64-bit programs patch
  kNoHalf,   // a processor the package has no programs for (ARM64, Itanium)
};
NativeHalf FindNativeHalf();
// Whether the package beside the program holds its 64-bit half: modules\X64 and, for the
// 32-bit program, the 64-bit program of that name beside it (none for the 64-bit program).
int HaveHalf64(const char *program64);
// The folder the companion library is loaded from: the program's, or its modules\X64 in the
// 64-bit build. Returns 0 with the buffer empty when it is unknown or does not fit.
int GetCompanionDirectory(Path &buffer);
// Runs <program directory>\name with the argument text args after its quoted name, waits for
// it and hands back its exit code; with shareOutput it writes to this program's standard
// handles. Returns 1, or 0 when it could not be started or its end not read.
int RunBesideProgram(const char *name, const char *args, int shareOutput, DWORD *exitCode);
