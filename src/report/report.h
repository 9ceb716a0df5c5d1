// The error log of an L-mode run.
#pragma once

#include <windows.h>

// errorlog.cpp
// Names the log (a fresh "KPP" name in the temp folder that no other program can foresee; the
// file is made by the first append) and returns the name, valid for the rest of the run. Only
// a named log takes lines: a run that never names one logs nothing.
const char *MakeErrorLogName();
// Appends text, exactly its bytes, to a named log not yet closed, and to an open run log.
// Returns 1 in every case.
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

// runlog.cpp
// The log of a run started with "/LOG=FILE": a first line with the time (UTC) and the version
// text, then what the error log gets, whatever the mode, and what was done with each listed
// file. It is written to a fresh file in file's folder and moved over file at the end.
// Returns 0 when file is no full path ending in a plain file name, its folder takes no new file
// (missing, no rights), or a folder or read-only file stands at the name; nothing is made then.
int OpenRunLog(const char *file);
// Appends text, exactly its bytes, to an open run log. Returns 1 in every case.
int AppendRunLog(const char *text);
// Closes the log and moves it over its file, created new or replaced (a link there is replaced,
// never written through). Returns 1 when the file is now the log; else it stays under its fresh
// name beside it.
int KeepRunLog();
// Closes the log and removes it, when another program writes the log of this run.
void DiscardRunLog();
