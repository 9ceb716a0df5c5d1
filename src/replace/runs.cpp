// The replacement runs: the print-processor files with the spooler stopped, then the present
// spooler-helper and system files. Each entry is one call of the version gate.
//
// A path that does not fit its 260 characters is never cut: a shorter path names another
// file. Such an entry is skipped with a line naming the listed name, and the walk goes on.
#include "app/app.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "report/report.h"
#include "service/service.h"

namespace {

void LogSkipped(const char *name, const char *operation) {
  LogReplaceFailure("wsprintf %s at %s FALSE \r\n", name, operation);
}

int GetSystemFolder(char *folder) {
  UINT length = Os.GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    folder[0] = 0;
    return 0;
  }
  return 1;
}

// No package file is taken from a guessed folder: without the program directory there is no
// source.
int ComposeSource(char *source, const char *name, OsTag tag) {
  char program[MAX_PATH];
  return GetProgramDirectory(MAX_PATH, program) && program[0] &&
         ComposeSourcePath(program, name, tag, source);
}

void CopyPrtProcEntry(const char *name, void *context) {
  CopyPrtProcFile(name, *static_cast<const OsTag *>(context));
}

struct SysListContext {
  const char *source; // the SRC file for every entry, or nullptr for the entry's own name
  OsTag tag;
};

void CopySysEntry(const char *name, void *context) {
  const SysListContext *list = static_cast<const SysListContext *>(context);
  CopySysFileIfPresent(list->source ? list->source : name, name, list->tag);
}

} // namespace

int ComposeSourcePath(const char *program, const char *name, OsTag tag, char *source) {
  return FormatText(source, MAX_PATH, "%s\\modules\\%s\\%s", program, tag.text, name) >= 0;
}

int ComposeTargetPath(const char *name, int printProcessor, char *target) {
  char system[MAX_PATH];
  if (!GetSystemFolder(system))
    return 0;
  const char *format = printProcessor ? "%s\\spool\\prtprocs\\w32x86\\%s" : "%s\\%s";
  return FormatText(target, MAX_PATH, format, system, name) >= 0;
}

int FindInSystemFolder(const char *name, int *present) {
  char probe[MAX_PATH];
  *present = 0;
  if (!GetSystemFolder(probe) || !AppendPath(probe, MAX_PATH, name))
    return 0;
  WIN32_FIND_DATAA found;
  found.cFileName[0] = 0;
  HANDLE search = Os.FindFirstFileA(probe, &found);
  if (search == INVALID_HANDLE_VALUE)
    return 1;
  Os.FindClose(search);
  *present = found.cFileName[0] != 0;
  return 1;
}

int PatchPrintProcessor(OsTag tag) {
  unsigned osClass = GetOsClass();
  if (osClass != kOsClassNT4 && osClass != kOsClass2000 && osClass != kOsClassXP)
    return 1;
  StopSpoolService("spooler");
  // The stop request does not wait for the spooler to let go of its files.
  Os.Sleep(1500);
  ForEachListedName("PRINTPROC", 50, CopyPrtProcEntry, &tag);
  Os.Sleep(1000);
  StartSpoolService("spooler");
  return 1;
}

int PatchSystemFiles(OsTag tag) {
  char source[kListValueCapacity];
  ReadPatchConfigValue("KVSPLPROC", "SRC", "KVHLP00E.EXE", source, kListValueCapacity);
  SysListContext helpers = {source, tag};
  ForEachListedName("KVSPLPROC", 200, CopySysEntry, &helpers);
  SysListContext files = {nullptr, tag};
  ForEachListedName("SrcFiles", 200, CopySysEntry, &files);
  return 1;
}

int CopyPrtProcFile(const char *name, OsTag tag) {
  char target[MAX_PATH];
  char source[MAX_PATH];
  if (!ComposeTargetPath(name, 1, target) || !ComposeSource(source, name, tag)) {
    LogSkipped(name, "CopyPrtProcFile");
    return 0;
  }
  return CopySplFile(source, target);
}

int CopySysFileIfPresent(const char *source, const char *target, OsTag tag) {
  int present = 0;
  if (!FindInSystemFolder(target, &present)) {
    LogSkipped(target, "CopySysFileIfPresent");
    return 0;
  }
  if (!present)
    return 0;
  return CopySysFile(source, target, tag);
}

int CopySysFile(const char *source, const char *target, OsTag tag) {
  char targetPath[MAX_PATH];
  char sourcePath[MAX_PATH];
  if (!ComposeTargetPath(target, 0, targetPath) || !ComposeSource(sourcePath, source, tag)) {
    LogSkipped(target, "CopySysFile");
    return 0;
  }
  return CopySplFile(sourcePath, targetPath);
}
