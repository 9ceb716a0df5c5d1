// The error log of an L-mode run and the diagnostic report of the D mode.
#pragma once

#include <windows.h>

// errorlog.cpp
extern int ErrorLogEnabled;
// Names the log (a fresh "KPP" name in the temp folder that no other program can foresee; the
// file is made by the first append) and returns the name, valid for the rest of the run.
const char *MakeErrorLogName();
// Appends text, exactly its bytes, when logging is on. Returns 1 in every case.
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
