// Start-up and run control, the top of the patcher: the entry's run, the modes, the closing box
// and the restart. Nothing below includes this.
#pragma once

#include "common/common.h"

enum RunMode { Patch, Diagnose, LogPatch, Uninstall, Version };

// "/QUIET": no box, no Notepad, no restart, and an exit code for deployment tools.
extern int QuietRun;

// run.cpp
// Finds the mode letter: the character right after the first "/" of the argument text.
// Returns 1 and sets *letter when there is one, 0 when there is no "/" or it ends the text.
int FindModeLetter(const char *args, unsigned char *letter);
RunMode SelectRunMode(unsigned char letter);
// Applies "/OS=NT", "/OS=2000", "/FOW" and "/QUIET" (case-sensitive, anywhere in the text).
void ApplyOptions(const char *args, OsTag *tag);
// The whole run, from the recorded instance to the closing box. Returns the exit code: 0, or
// with "/QUIET" 3010 (done; a restart finishes it) or 1603 (a listed file was not replaced).
int RunTolvanix(HINSTANCE instance, const char *args);

// relaunch.cpp
// On 64-bit Windows the 64-bit program patches: the 32-bit one runs it (tolvanix64.exe beside
// it, the mode its name chose passed on as a switch) and hands back its exit code; with no half of
// the package for this system, the run is refused before anything is touched (with "/QUIET" exit
// 1633, else one OK box and 0). Returns 1 with *exitCode set when the run ended here, 0 when this
// program runs it.
int RunNativeHalf(const char *args, int haveLetter, RunMode mode, const char *caption,
                  int *exitCode);

// closing.cpp
// Shows the OK/Cancel box with text and caption; OK restarts Windows. Shows nothing for an
// empty text. Returns 0.
int ShowClosingBox(const char *text, const char *caption);
void RestartComputer();
