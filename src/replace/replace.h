// Compressed copy, version gate and the replacement runs over the configured file lists.
#pragma once

#include "app/app.h"

// lzcopy.cpp
int CopyLZFile(const char *source, const char *target);
char *ExpandToTempFile(const char *source, char *name);
// Reads the expanded size that a compressed (SZDD) file's header declares. Returns 1 with
// *size set, or 0 when the file is not compressed or cannot be read.
int ReadDeclaredSize(const char *source, DWORD *size);
// Whether the installed file can be replaced now (1) or only at the restart (0): it can be had
// for exclusive writing, or it does not exist yet. On 0, GetLastError tells why.
int CanReplaceNow(const char *target);

// versiongate.cpp
enum GateDecision { kGateReplace, kGateRefuseVersion, kGateRefuseTime };
// What the gate read for one decision. Times are read only when the versions are equal, and
// nothing is read under ForceOverwrite; the flags say which were.
struct GateReading {
  int forced;
  int timesCompared;
  char packageVersion[MAX_PATH];
  char installedVersion[MAX_PATH];
  long long packageNumber;
  long long installedNumber;
  long long packageTime;
  long long installedTime;
};
// The gate's decision for one file: ForceOverwrite, then the versions, then the times. Reads
// the package file through scratch expansions in the temp folder, which it deletes; changes
// nothing else. reading may be null.
GateDecision DecideSplFile(const char *source, const char *target, GateReading *reading);
int CopySplFile(const char *source, const char *target);
// Fills buffer (capacity characters, at least 260) with the FileVersion text, or the empty
// text, and returns it.
char *GetFileVersionString(const char *fileName, char *buffer, int capacity);
long long ParseVersionString(const char *text);
long long GetLastWriteTime(const char *fileName);

// runs.cpp
int PatchPrintProcessor(OsTag tag);
int PatchSystemFiles(OsTag tag);
int CopyPrtProcFile(const char *name, OsTag tag);
int CopySysFileIfPresent(const char *source, const char *target, OsTag tag);
int CopySysFile(const char *source, const char *target, OsTag tag);
// The paths the runs hand to the gate, composed as the runs compose them. Each returns 0 when
// the path does not fit its 260 characters; the runs then skip the entry with a log line.
int ComposeSourcePath(const char *program, const char *name, OsTag tag, char *source);
int ComposeTargetPath(const char *name, int printProcessor, char *target);
// The runs' presence probe of <system directory>\name: 0 when the probe does not fit, else 1
// with *present set.
int FindInSystemFolder(const char *name, int *present);
