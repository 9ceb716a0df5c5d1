// The replacement runs: the print-processor files (the run stops the spooler around them), then
// the present spooler-helper and system files. Each entry is one copy through the version gate.
//
// A path that does not fit its 260 characters is never cut: a shorter path names another
// file. Such an entry is skipped with a line naming the listed name, and the walk goes on.
#include "common/common.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "report/report.h"

namespace {

void LogSkipped(const char *name, const char *operation, RunOutcome *outcome,
                const char *format = kLinePathTooLong) {
  char line[kTextCapacity + MAX_PATH];
  if (FormatText(line, sizeof line, format, name, operation) >= 0)
    AppendErrorLog(line);
  if (FormatText(line, sizeof line, kLineFileFailed, name) >= 0)
    AppendRunLog(line);
  ++outcome->failures;
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
  const RunOptions *options;
  RunOutcome *outcome;
};

void CopyListedFile(const char *name, void *context) {
  const ListWalk *walk = static_cast<const ListWalk *>(context);
  if (walk->list->printProcessor)
    CopyPrtProcFile(name, *walk->options, walk->outcome);
  else
    CopySysFileIfPresent(walk->source ? walk->source : name, name, *walk->options, walk->outcome);
}

// One list, with its shared source read once before the first entry.
void WalkPatchList(PatchListIndex index, const RunOptions &options, RunOutcome *outcome) {
  const PatchList &list = kPatchLists[index];
  Path source;
  ListWalk walk = {&list, ReadSharedSource(nullptr, list, source) ? source : nullptr, &options,
                   outcome};
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

int FindPackageProblem(const char *program, OsTag tag) {
  Path own;
  if (!program) {
    program = own;
    if (!GetProgramDirectory(own))
      return kNoProgramFolder;
  }
  if (!program[0])
    return kNoProgramFolder;
  Path ini;
  if (!CopyText(ini, MAX_PATH, program) || !AppendPath(ini, MAX_PATH, "tolvanix.ini"))
    return kNoConfigFile;
  DWORD attributes = Os.GetFileAttributesA(ini);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return kNoConfigFile;
  Path folder;
  if (FormatText(folder, MAX_PATH, "%s\\modules\\%s", program, tag.text) >= 0) {
    attributes = Os.GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return kPackageUsable;
  }
  for (const PatchList &list : kPatchLists) {
    Path name;
    if (ListedNameAt(ini, list.section, 0, name))
      return kNoPackageFolder;
  }
  return kPackageUsable;
}

int PatchesPrintProcessor(unsigned osClass) {
  return osClass == kOsClassNT4 || osClass == kOsClass2000 || osClass == kOsClassXP;
}

int PatchPrintProcessor(const RunOptions &options, RunOutcome *outcome) {
  WalkPatchList(kPrintProcList, options, outcome);
  return 1;
}

int PatchSystemFiles(const RunOptions &options, RunOutcome *outcome) {
  WalkPatchList(kHelperList, options, outcome);
  WalkPatchList(kSystemList, options, outcome);
  return 1;
}

int CopyPrtProcFile(const char *name, const RunOptions &options, RunOutcome *outcome) {
  if (!IsPlainFileName(name)) {
    LogSkipped(name, "CopyPrtProcFile", outcome, kLineNotPlainName);
    return 0;
  }
  Path target;
  Path source;
  if (!ComposeTargetPath(kPatchLists[kPrintProcList], name, target) ||
      !ComposeSource(source, name, options.tag)) {
    LogSkipped(name, "CopyPrtProcFile", outcome);
    return 0;
  }
  return CopySplFile(source, target, options, outcome);
}

int CopySysFileIfPresent(const char *source, const char *target, const RunOptions &options,
                         RunOutcome *outcome) {
  // Refused before the probe: a wildcard there would find another file present.
  if (!IsPlainFileName(target)) {
    LogSkipped(target, "CopySysFileIfPresent", outcome, kLineNotPlainName);
    return 0;
  }
  int present = 0;
  if (!FindInSystemFolder(target, &present)) {
    LogSkipped(target, "CopySysFileIfPresent", outcome);
    return 0;
  }
  if (!present) {
    Path path;
    char line[MAX_PATH + 60];
    if (ComposeTargetPath(kPatchLists[kSystemList], target, path) &&
        FormatText(line, sizeof line, kLineFileAbsent, path) >= 0)
      AppendRunLog(line);
    return 0;
  }
  return CopySysFile(source, target, options, outcome);
}

int CopySysFile(const char *source, const char *target, const RunOptions &options,
                RunOutcome *outcome) {
  // An empty SRC names the package folder itself, which the copy finds it cannot read.
  const char *refused = !IsPlainFileName(target)                ? target
                        : source[0] && !IsPlainFileName(source) ? source
                                                                : nullptr;
  if (refused) {
    LogSkipped(refused, "CopySysFile", outcome, kLineNotPlainName);
    return 0;
  }
  Path targetPath;
  Path sourcePath;
  if (!ComposeTargetPath(kPatchLists[kSystemList], target, targetPath) ||
      !ComposeSource(sourcePath, source, options.tag)) {
    LogSkipped(target, "CopySysFile", outcome);
    return 0;
  }
  return CopySplFile(sourcePath, targetPath, options, outcome);
}
