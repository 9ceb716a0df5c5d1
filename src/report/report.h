// The error log of an L-mode run.
#pragma once

#include <windows.h>

// errorlog.cpp
// Names the log (a fresh "KPP" name in the temp folder that no other program can foresee; the
// file is made by the first append) and returns the name, valid for the rest of the run. Only
// a named log takes lines: a run that never names one logs nothing.
const char *MakeErrorLogName();
// Appends text, exactly its bytes, to a named log not yet closed. Returns 1 in every case.
int AppendErrorLog(const char *text);
// Ends the appends and lets other programs read the log. Returns its name (which changes from
// the first one only when something stood at that name by the first append).
const char *CloseErrorLog();
// Closes the log and deletes it, if its name still leads to the file this run made.
void DeleteErrorLog();
// The name under which a quiet L run keeps its log in the temp folder.
static const char kKeptErrorLogName[] = "tolvanix-errors.log";
// Closes the log and moves it over kKeptErrorLogName (an empty log when nothing was logged), as
// the report is put in place.
void KeepErrorLog();
