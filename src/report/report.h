// The error log of an L-mode run and the diagnostic report of the D mode.
#pragma once

#include <windows.h>

// errorlog.cpp
extern int ErrorLogEnabled;
// Names the log (a fresh "KPPC" name in the temp folder, with no file left under it) and
// returns the name, which stays valid for the rest of the run.
const char *MakeErrorLogName();
// Appends text, exactly its bytes, when logging is on. Returns 1 in every case.
int AppendErrorLog(const char *text);

// diagnostic.cpp
int WriteDiagnosticReport();
int WriteReportLine(const char *text);
int WriteFileRecord(const char *name);
int GetHelperServiceState();
char *FormatFileTime(const FILETIME *time, char *buffer);
