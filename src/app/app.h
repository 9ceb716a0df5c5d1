// Start-up and run control, the top of the patcher: the entry's run, the modes, the closing box
// and the restart. Nothing below includes this.
#pragma once

#include "common/common.h"

enum RunMode { Patch, Diagnose, LogPatch, Uninstall, Version };

// run.cpp
// Finds the mode letter: the character right after the first "/" of the argument text.
// Returns 1 and sets *letter when there is one, 0 when there is no "/" or it ends the text.
int FindModeLetter(const char *args, unsigned char *letter);
RunMode SelectRunMode(unsigned char letter);
// Applies "/OS=NT", "/OS=2000", "/FOW" (case-sensitive), "/QUIET" and "/LOG=FILE" (in any case),
// anywhere in the text but inside FILE.
void ApplyOptions(const char *args, RunOptions *options);
// The whole run, from the recorded instance to the closing box. Returns the exit code: 0, or
// with "/QUIET" 1622 when the "/LOG=" file cannot be made, else the code of PatchExitCode for a
// patch, 3010 for /U and 0 for /D and /V.
int RunTolvanix(HINSTANCE instance, const char *args);

// relaunch.cpp
// On 64-bit Windows the 64-bit program patches: the 32-bit one runs it (tolvanix64.exe beside
// it, the mode its name chose passed on as a switch) and hands back its exit code; with no half of
// the package for this system, the run is refused before anything is touched (with "/QUIET" exit
// 1633, else one OK box and 0). Returns 1 with *exitCode set when the run ended here, 0 when this
// program runs it.
int RunNativeHalf(const char *args, int haveLetter, RunMode mode, int quiet, const char *caption,
                  int *exitCode);

// onerun.cpp
// The lock's file name in the system folder.
inline constexpr char kRunLockName[] = "tolvanix.lock";
enum RunLockState { kLockTaken, kAnotherRun, kLockNotTaken };
// Takes the lock that keeps a second run out of the replacement work. kAnotherRun only when
// another run holds it; kLockNotTaken when it cannot be made (the run then goes on without it).
RunLockState TakeRunLock();
// Lets the lock go, if held.
void ReleaseRunLock();

// closing.cpp
// Shows the OK/Cancel box with text and caption; OK restarts Windows. Shows nothing for an
// empty text. Returns 0.
int ShowClosingBox(const char *text, const char *caption);
// A run refused before it changed anything: with "/QUIET" quietCode; else one OK box with the
// caption and string textId (its "%s" filled with argument), and 0.
int RefuseRun(int quiet, int quietCode, UINT textId, const char *caption,
              const char *argument = "");
void RestartComputer();

// diagnostic.cpp
// A report line, and the time and version texts, are formed in buffers of this many characters.
static const int kReportTextCapacity = 500;
typedef char ReportText[kReportTextCapacity];
// Writes tolvanix.log in the temp folder and, when asked to, opens it in Notepad. Returns 1.
int WriteDiagnosticReport(int showInNotepad);
// Writes text and "\r\n". Returns 0 when the report is not open, else the last write's result.
int WriteReportLine(const char *text);
// Writes the record of <system directory>\name. Returns 1 when the file is present, 0 when it
// is absent or when its path or a line would not fit (the record is then not written at all).
int WriteFileRecord(const char *name);
// The helper service's current state (1 to 7), or -1 when it is not among the active services.
int GetHelperServiceState();
// Writes the UTC time text into buffer and returns buffer.
char *FormatFileTime(const FILETIME *time, ReportText &buffer);
