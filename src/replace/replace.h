// Compressed copy, version gate and the replacement runs over the configured file lists.
#pragma once

#include "common/common.h"
#include "config/config.h"
#include "platform/files.h"

// The lines a replacement logs, each ending in a blank and "\r\n"; tolvanix-check predicts
// them from here. The arguments are named after each.
inline constexpr char kLineExpansionFailed[] = "LZCopy %s at CopyLZFile FALSE \r\n"; // target
inline constexpr char kLineCopyFailed[] = "CopyLZFile %s at CopySplFile FALSE \r\n"; // target
inline constexpr char kLineMoveFailed[] = "MoveFileEx %s at CopyLZFile FALSE \r\n";  // target
inline constexpr char kLineVersionGreater[] =
    "version of %s is greater than %s \r\n";                               // target, source
inline constexpr char kLineNotNewer[] = "%s is older than %s \r\n";        // source, target
inline constexpr char kLinePathTooLong[] = "wsprintf %s at %s FALSE \r\n"; // name, operation

// lzcopy.cpp
enum Expansion { kExpanded, kNoPackageFile, kNoRoom, kExpansionFailed };
// Expands the package file, plain or compressed, into a fresh "kv" file of folder (which ends
// in a backslash) and names it in expanded. kNoPackageFile when the package file cannot be
// opened, kNoRoom when folder takes no new file (missing, or no rights), kExpansionFailed when
// the package file does not expand whole; expanded is then empty and nothing is left behind. Logs
// nothing. identity, when given, receives the new file's.
Expansion ExpandPackageFile(const char *source, const char *folder, char (&expanded)[MAX_PATH],
                            FileIdentity *identity = nullptr);
// What stands in the way of a copy onto target, whatever its package file: kNoFolder when the
// target's folder is not there (the expansion then finds no room beside it), kNotAFile when
// something that is not a file has the target's name (InstallExpansion refuses it).
// tolvanix-check predicts the copy from this.
enum CopyBlock { kNothingInTheWay, kNoFolder, kNotAFile };
CopyBlock FindCopyBlock(const char *target);
// Puts a finished expansion (beside target) in the target's place: at once by a rename when the
// target can be had, else by two restart operations. Returns 1, or 0 with its line logged.
int InstallExpansion(const char *expanded, const char *target);
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
// The gate's decision for one file: ForceOverwrite, then the versions, then the times, read from
// expanded (the package file as it would be installed; empty when it could not be expanded,
// which reads as no version and time 0) and the installed target. Changes nothing. reading
// may be null.
GateDecision DecideSplFile(const char *expanded, const char *target, GateReading *reading);
// The one door through which a listed file is replaced: expands it beside the target, asks
// the gate, then installs or discards the expansion; refusals and failures are logged.
int CopySplFile(const char *source, const char *target);
// Lines of a listed file that could not be replaced (its expansion, its copy, its path) count
// here as they are logged; refusals by the gate do not.
extern int ReplaceFailures;
void LogReplaceFailure(const char *format, const char *first, const char *second = "");
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
int ComposeSourcePath(const char *program, const char *name, OsTag tag, Path &source);
int ComposeTargetPath(const PatchList &list, const char *name, Path &target);
// The runs' presence probe of <system directory>\name: 0 when the probe does not fit, else 1
// with *present set.
int FindInSystemFolder(const char *name, int *present);
