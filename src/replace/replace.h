// Compressed copy, version gate and the replacement runs over the configured file lists.
#pragma once

#include "app/app.h"

// lzcopy.cpp
int CopyLZFile(const char *source, const char *target);
char *ExpandToTempFile(const char *source, char *name);

// versiongate.cpp
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
