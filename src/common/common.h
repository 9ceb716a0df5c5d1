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

// Process-wide values set at start: the program's instance, and "/FOW", which the version gate
// reads.
extern HINSTANCE ProgramInstance;
extern int ForceOverwrite;

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
