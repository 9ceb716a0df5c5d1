// Start-up and run control: the entry's run, the modes, the closing box and the restart; the
// OS class, the OS tag and the program directory that the rest of the program relies on.
#pragma once

#include <windows.h>

// The package folder's name for the system: two letters and two zero bytes, passed by value.
struct OsTag {
  char text[4];
};
extern const OsTag kOsTagNT;
extern const OsTag kOsTag2K;

enum OsClass : unsigned { kOsClass9x = 10, kOsClassNT4 = 11, kOsClass2000 = 12, kOsClassXP = 13 };

enum RunMode { Patch, Diagnose, LogPatch, Uninstall, Version };

// Process-wide values set by the run.
extern HINSTANCE ProgramInstance;
extern int ForceOverwrite;
// "/QUIET": no box, no Notepad, no restart, and an exit code for deployment tools.
extern int QuietRun;

// osclass.cpp
unsigned GetOsClass();
// The program's full file name. Returns its length, or 0 with the buffer empty when it cannot be
// read or does not fit the buffer (never a cut name).
int GetProgramFileName(int capacity, char *buffer);
// The program's folder without a trailing backslash. Returns 1, or 0 with the buffer empty when
// the program's file name is unknown (unreadable, or too long for the buffer).
int GetProgramDirectory(int capacity, char *buffer);

// run.cpp
// What follows the program's own name on a command line (quoted or not), blanks skipped: the
// argument text a C runtime's start-up would hand to WinMain.
const char *SkipProgramName(const char *commandLine);
// Finds the mode letter: the character right after the first "/" of the argument text.
// Returns 1 and sets *letter when there is one, 0 when there is no "/" or it ends the text.
int FindModeLetter(const char *args, unsigned char *letter);
RunMode SelectRunMode(unsigned char letter);
// Applies "/OS=NT", "/OS=2000", "/FOW" and "/QUIET" (case-sensitive, anywhere in the text).
void ApplyOptions(const char *args, OsTag *tag);
// The whole run, from the recorded instance to the closing box. Returns the exit code: 0, or
// with "/QUIET" 3010 (done; a restart finishes it) or 1603 (a listed file was not replaced).
int RunTolvanix(HINSTANCE instance, const char *args);

// closing.cpp
// Shows the OK/Cancel box with text and caption; OK restarts Windows. Shows nothing for an
// empty text. Returns 0.
int ShowClosingBox(const char *text, const char *caption);
void RestartComputer();
// Starts Notepad from the system (else Windows) directory with "notepad  <fileName>". Returns
// 1 when it started, 0 when it did not (also when the command line would not fit).
int StartNotepad(const char *fileName);
