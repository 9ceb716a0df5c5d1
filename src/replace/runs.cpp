// The replacement runs: the print-processor files with the spooler stopped, then the present
// spooler-helper and system files. Each entry is one call of the version gate.
//
// A path that does not fit its 260 characters is never cut: a shorter path names another
// file. Such an entry is skipped with a line naming the listed name, and the walk goes on.
#include "common/common.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "report/report.h"
#include "service/service.h"

namespace {

void LogSkipped(const char *name, const char *operation) {
  LogReplaceFailure(kLinePathTooLong, name, operation);
}

int GetSystemFolder(Path &folder) {
  UINT length = Os.GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    folder[0] = 0;
    return 0;
  }
  return 1;
}

// No package file is taken from a guessed folder: without the program directory there is no
// source.
int ComposeSource(Path &source, const char *name, OsTag tag) {
  Path program;
  return GetProgramDirectory(program) && program[0] &&
         ComposeSourcePath(program, name, tag, source);
}

struct ListWalk {
  const PatchList *list;
  const char *source; // the one source of every entry (SRC), or null: the entry's own name
  OsTag tag;
};

void CopyListedFile(const char *name, void *context) {
  const ListWalk *walk = static_cast<const ListWalk *>(context);
  if (walk->list->printProcessor)
    CopyPrtProcFile(name, walk->tag);
  else
    CopySysFileIfPresent(walk->source ? walk->source : name, name, walk->tag);
}

// One list, with its shared source read once before the first entry.
void WalkPatchList(PatchListIndex index, OsTag tag) {
  const PatchList &list = kPatchLists[index];
  Path source;
  ListWalk walk = {&list, ReadSharedSource(nullptr, list, source) ? source : nullptr, tag};
  ForEachListedName(list.section, list.limit, CopyListedFile, &walk);
}

} // namespace

int ComposeSourcePath(const char *program, const char *name, OsTag tag, Path &source) {
  return FormatText(source, MAX_PATH, "%s\\modules\\%s\\%s", program, tag.text, name) >= 0;
}

int ComposeTargetPath(const PatchList &list, const char *name, Path &target) {
  Path system;
  if (!GetSystemFolder(system))
    return 0;
  if (list.printProcessor)
    return FormatText(target, MAX_PATH, "%s\\spool\\prtprocs\\%s\\%s", system,
                      kPrintProcessorFolder, name) >= 0;
  return FormatText(target, MAX_PATH, "%s\\%s", system, name) >= 0;
}

int FindInSystemFolder(const char *name, int *present) {
  Path probe;
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
  WalkPatchList(kPrintProcList, tag);
  Os.Sleep(1000);
  StartSpoolService("spooler");
  return 1;
}

int PatchSystemFiles(OsTag tag) {
  WalkPatchList(kHelperList, tag);
  WalkPatchList(kSystemList, tag);
  return 1;
}

int CopyPrtProcFile(const char *name, OsTag tag) {
  Path target;
  Path source;
  if (!ComposeTargetPath(kPatchLists[kPrintProcList], name, target) ||
      !ComposeSource(source, name, tag)) {
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
  Path targetPath;
  Path sourcePath;
  if (!ComposeTargetPath(kPatchLists[kSystemList], target, targetPath) ||
      !ComposeSource(sourcePath, source, tag)) {
    LogSkipped(target, "CopySysFile");
    return 0;
  }
  return CopySplFile(sourcePath, targetPath);
}
