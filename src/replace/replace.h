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
inline constexpr char kLineUnreadable[] = "CreateFile %s at CopySplFile FALSE \r\n"; // the file
inline constexpr char kLineNotPlainName[] = "IsPlainFileName %s at %s FALSE \r\n";   // name, op.
// What became of a listed file, one line each, in the log "/LOG=" asks for; each names the
// installed file (the listed name, when no path was composed for it).
inline constexpr char kLineFileReplacedNow[] = "%s replaced now \r\n";
inline constexpr char kLineFileAtRestart[] = "%s replaced at the restart \r\n";
inline constexpr char kLineFileKeptVersion[] = "%s kept: the installed version is greater \r\n";
inline constexpr char kLineFileKeptTime[] = "%s kept: the package file is not newer \r\n";
inline constexpr char kLineFileKeptNoPackage[] = "%s kept: no package file \r\n";
inline constexpr char kLineFileAbsent[] = "%s absent: only present files are replaced \r\n";
inline constexpr char kLineFileFailed[] = "%s failed \r\n";
inline constexpr char kLineNewCopyKept[] = "%s holds the new copy of %s \r\n"; // kv file, target

// lzcopy.cpp
enum Expansion { kExpanded, kNoPackageFile, kNoRoom, kExpansionFailed, kPackageUnreadable };
// Expands the package file, plain or compressed, into a fresh "kv" file of folder (which ends
// in a backslash) and names it in expanded. kNoPackageFile when there is no package file,
// kPackageUnreadable when something is there that cannot be opened as a file for reading (held
// without sharing, no rights, a folder), kNoRoom when folder takes no new file (missing, or no
// rights), kExpansionFailed when the package file does not expand whole or is compressed in a
// form the system's expander does not take; expanded is then empty and nothing is left behind.
// Logs nothing. identity, when given, receives the new file's.
Expansion ExpandPackageFile(const char *source, const char *folder, char (&expanded)[MAX_PATH],
                            FileIdentity *identity = nullptr);
// What stands in the way of a copy onto target, whatever its package file: kNoFolder when the
// target's folder is not there (the expansion then finds no room beside it), kNotAFile when
// something that is not a file has the target's name.
enum CopyBlock { kNothingInTheWay, kNoFolder, kNotAFile };
CopyBlock FindCopyBlock(const char *target);
// Reads the expanded size that a compressed (SZDD) file's header declares. Returns 1 with
// *size set, or 0 when the file is not compressed or cannot be read.
int ReadDeclaredSize(const char *source, DWORD *size);
// The compression a package file's first bytes announce that the system's expander cannot
// expand (it would hand such a file back as plain data, container and all): "KWAJ", "SZ" (the
// older form) or "SZDD" with a mode other than 'A'; null for anything else.
const char *FindUnexpandableForm(const char *source);
// Whether a present installed file can be opened for reading as a loaded library's file can
// (sharing reads and writes). Returns 1 also when it is absent; on 0 the gate could not read it.
int CanReadInstalledFile(const char *target);
// Whether the installed file can be replaced now (1) or only at the restart (0): it can be had
// for exclusive writing, or it does not exist yet. On 0, GetLastError tells why.
int CanReplaceNow(const char *target);

// versiongate.cpp
enum GateDecision { kGateReplace, kGateRefuseVersion, kGateRefuseTime };
// What the gate read for one decision. Times are read only when the versions are equal, and
// nothing is read when forced; the flags say which were.
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
// The gate's decision for one file: forced ("/FOW") lets it through, else the versions, then
// the times, read from expanded (the package file as it would be installed; empty when it could
// not be expanded, which reads as no version and time 0) and the installed target. Changes
// nothing. reading may be null.
GateDecision DecideSplFile(const char *expanded, const char *target, int forced,
                           GateReading *reading);
// Fills buffer (capacity characters, at least 260) with the FileVersion text, or the empty
// text, and returns it.
char *GetFileVersionString(const char *fileName, char *buffer, int capacity);
long long ParseVersionString(const char *text);
long long GetLastWriteTime(const char *fileName);

// pending.cpp
// The restart operations waiting in PendingFileRenameOperations, read once per run (or per plan
// or verify) and handed down.
struct PendingOperations {
  char *text;
  DWORD size;
};
// Returns 1 (text null when nothing waits), or 0 when the value cannot be read.
int LoadPendingOperations(PendingOperations *pending);
void FreePendingOperations(PendingOperations *pending);
// "\??\C:\x" and "!\??\C:\x" (a move that replaces) both name C:\x.
const char *PlainName(const char *name);
// Whether two names name one file as Windows takes them: without case, with or without "\??\"
// and "!", and with the short (8.3) names of existing folders and files taken long.
int SameFileName(const char *a, const char *b);
// Calls action for every operation on target, in the order the restart carries them out: from
// is the file to be moved, to its new name ("" for a deletion), both plain. Returns how many.
typedef void (*PendingAction)(const char *from, const char *to, void *context);
int ForEachPendingOperation(const PendingOperations &pending, const char *target,
                            PendingAction action, void *context);
// The file that will stand at target once its waiting operations are carried out, in
// standing: target itself when nothing waits for it, the source of the last move onto it that
// can succeed (while that source is there now), or "" after a deletion or a move elsewhere.
// Returns how many operations concern target.
int FindStandingFile(const PendingOperations &pending, const char *target,
                     char (&standing)[MAX_PATH]);

// copy.cpp
// What the copy of one listed file does, all of it decided before anything is installed.
enum CopyAction { kCopyReplaceNow, kCopyReplaceAtRestart, kCopyRefuse, kCopyFail };
// Two lines of two paths each and the words between them.
static const int kCopyLinesCapacity = 1200;
struct CopyDecision {
  Expansion expansion; // beside the target for the patcher, where the check looks
  int blind;           // the check's folder took no new file: the gate read no package file
  CopyBlock block;
  GateDecision gate; // asked unless the expansion found no room
  GateReading reading;
  CopyAction action;
  DWORD whyNotNow; // GetLastError of CanReplaceNow, for the restart way
  char expanded[MAX_PATH];
  FileIdentity identity;
  char lines[kCopyLinesCapacity]; // what the error log gets, in order
  int failures;                   // how many of those lines are failures (refusals are not)
  int unreadable; // 1 the package file, 2 the installed file is there but cannot be read
  // Restart operations that already wait for the target: they run after anything done now, so
  // the gate judged the package file against the file they leave, standing ("" none), and a
  // copy it lets through waits behind them.
  int earlier;
  char standing[MAX_PATH];
};
// Expands the package file source into folder (null: beside target, where the patcher
// installs from) and decides the copy onto target: forced is "/FOW", pending the restart
// operations already waiting (null: none). A folder elsewhere that takes no new file, or an
// empty one, leaves the decision blind. Installs nothing; the expansion stays for ExecuteCopy
// or DiscardDecision.
void DecideCopy(const char *source, const char *target, const char *folder, int forced,
                const PendingOperations *pending, CopyDecision *decision);
// Removes the decision's expansion, if it is still the file the decision made.
void DiscardDecision(CopyDecision *decision);
// Logs the decision's lines and carries it out, with the lines of what turns out otherwise at
// the moment of the rename. Returns 1 when the file is replaced or waits for the restart.
int ExecuteCopy(const CopyDecision &decision, const char *target, RunOutcome *outcome);
// The one door through which a listed file is replaced: decided beside the target, executed.
int CopySplFile(const char *source, const char *target, const RunOptions &options,
                RunOutcome *outcome);

// runs.cpp
// The print processors' own files: the spooler is to be stopped around this walk.
int PatchPrintProcessor(const RunOptions &options, RunOutcome *outcome);
int PatchSystemFiles(const RunOptions &options, RunOutcome *outcome);
// Why a patch run cannot use the package in program (null: the program's own folder) with the
// package folder of tag: no program folder, no tolvanix.ini, or no package folder while a list
// names a file. kPackageUsable when it can.
enum PackageProblem { kPackageUsable, kNoProgramFolder, kNoConfigFile, kNoPackageFolder };
int FindPackageProblem(const char *program, OsTag tag);
// Whether the print processors are patched on this Windows class at all.
int PatchesPrintProcessor(unsigned osClass);
int CopyPrtProcFile(const char *name, const RunOptions &options, RunOutcome *outcome);
int CopySysFileIfPresent(const char *source, const char *target, const RunOptions &options,
                         RunOutcome *outcome);
int CopySysFile(const char *source, const char *target, const RunOptions &options,
                RunOutcome *outcome);
// The paths the runs hand to the gate, composed as the runs compose them. Each returns 0 when
// the path does not fit its 260 characters; the runs then skip the entry with a log line.
int ComposeSourcePath(const char *program, const char *name, OsTag tag, Path &source);
int ComposeTargetPath(const PatchList &list, const char *name, Path &target);
// The runs' presence probe of <system directory>\name: 0 when the probe does not fit, else 1
// with *present set.
int FindInSystemFolder(const char *name, int *present);
