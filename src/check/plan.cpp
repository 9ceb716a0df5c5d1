// The plan of a patch run on this machine, and the check after its restart. Both walk the
// lists exactly as the runs do; the plan shows the copy's own decision and the verify asks the
// runs' own gate. Neither stops a service, writes outside the temp folder or registers a
// restart operation.
#include "check/check.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const int kLineCapacity = 600;
// A reason may name every operation waiting for a file (PendingList's text).
const int kReasonCapacity = 1400;
const char kNothingStands[] = "nothing: the waiting operations remove it";

struct Entry {
  const PatchList *list;
  char key[16];
  const char *sourceName;
  const char *targetName;
};

// Appends one of the patcher's log lines, formatted as it formats it, to lines.
void AppendLine(char *lines, int cap, const char *format, const char *first,
                const char *second = "") {
  int length = lstrlenA(lines);
  FormatText(lines + length, cap - length, format, first, second);
}

struct PendingList {
  const char *target;
  char text[1200];
};

void CollectPending(const char *from, const char *to, void *context) {
  PendingList *list = static_cast<PendingList *>(context);
  char item[kLineCapacity];
  if (to[0] && SameFileName(from, list->target))
    FormatText(item, sizeof item, "%smove it to %s", list->text[0] ? "; " : "", to);
  else if (to[0])
    FormatText(item, sizeof item, "%smove %s onto it", list->text[0] ? "; " : "", from);
  else
    FormatText(item, sizeof item, "%sdelete it", list->text[0] ? "; " : "");
  int have = lstrlenA(list->text);
  if (have + lstrlenA(item) < static_cast<int>(sizeof list->text))
    lstrcpyA(list->text + have, item);
}

// Byte for byte.
int SameContent(const char *a, const char *b) {
  HANDLE first = Os.CreateFileA(a, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (first == INVALID_HANDLE_VALUE)
    return 0;
  HANDLE second = Os.CreateFileA(b, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (second == INVALID_HANDLE_VALUE) {
    Os.CloseHandle(first);
    return 0;
  }
  int same = 1;
  char x[4096];
  char y[4096];
  while (same) {
    DWORD gotX = 0;
    DWORD gotY = 0;
    if (!Os.ReadFile(first, x, sizeof x, &gotX, nullptr) ||
        !Os.ReadFile(second, y, sizeof y, &gotY, nullptr) || gotX != gotY) {
      same = 0;
      break;
    }
    if (gotX == 0)
      break;
    for (DWORD i = 0; i < gotX; ++i)
      if (x[i] != y[i]) {
        same = 0;
        break;
      }
  }
  Os.CloseHandle(first);
  Os.CloseHandle(second);
  return same;
}

// A file time for a person: the gate's 0 is a file it could not open for exclusive use.
char *DescribeTime(long long time, char *buf, int cap) {
  if (time == 0)
    CopyText(buf, cap, "0 (none: the file is missing, read-only or held open)");
  else
    FormatTime(time, buf, cap);
  return buf;
}

void AddGateFields(CheckRecord *record, const GateReading &reading) {
  char text[MAX_PATH + 160];
  if (reading.forced) {
    AddField(record, "gate", "skipped (/FOW)");
    return;
  }
  AddJsonField(record, "package version", reading.packageVersion);
  NumberText number;
  AddJsonField(record, "package number", FormatNumber(reading.packageNumber, number));
  AddJsonField(record, "installed version", reading.installedVersion);
  AddJsonField(record, "installed number", FormatNumber(reading.installedNumber, number));
  AddTextField(record, "package version",
               DescribeVersion(reading.packageVersion, reading.packageNumber, text, sizeof text));
  AddTextField(
      record, "installed version",
      DescribeVersion(reading.installedVersion, reading.installedNumber, text, sizeof text));
  if (reading.timesCompared) {
    AddJsonField(record, "package time", FormatTime(reading.packageTime, text, sizeof text));
    AddJsonField(record, "installed time", FormatTime(reading.installedTime, text, sizeof text));
    AddTextField(record, "package time", DescribeTime(reading.packageTime, text, sizeof text));
    AddTextField(record, "installed time", DescribeTime(reading.installedTime, text, sizeof text));
  } else {
    AddJsonField(record, "times", "not compared");
    AddTextField(record, "times", "not compared (the versions differ)");
  }
}

// The lines the patcher's error log would get: as written in JSON, one per line for a person.
void AddLogLines(CheckRecord *record, const char *lines) {
  if (!lines[0])
    return;
  AddJsonField(record, "log", lines);
  char line[kLineCapacity];
  int n = 0;
  for (const char *p = lines; *p; ++p) {
    if (p[0] == '\r' && p[1] == '\n') {
      while (n > 0 && line[n - 1] == ' ')
        --n;
      line[n] = 0;
      AddTextField(record, "log line", line);
      n = 0;
      ++p;
    } else if (n < kLineCapacity - 1) {
      line[n++] = *p;
    }
  }
}

struct Walk {
  const char *folder;
  const RunOptions *options;
  int verify;
  PlanTally *tally;
  const PendingOperations *pending;
};

void BeginEntryRecord(CheckRecord *record, const Entry &entry, const char *source,
                      const char *target) {
  char headline[kLineCapacity];
  FormatText(headline, sizeof headline, "[%s] %s = %s", entry.list->section, entry.key,
             entry.targetName);
  BeginRecord(record, "file", headline);
  AddJsonField(record, "section", entry.list->section);
  AddJsonField(record, "key", entry.key);
  AddJsonField(record, "source", source);
  AddJsonField(record, "target", target);
  if (source[0])
    AddTextField(record, "package file", source);
  if (target[0])
    AddTextField(record, "installed file", target);
}

// The outcome of one entry, as both forms give it and the summary counts it.
void AddOutcome(CheckRecord *record, const Walk &walk, const char *name, const char *value,
                const char *reason) {
  char text[kReasonCapacity + 64];
  AddJsonField(record, name, value);
  if (reason[0]) {
    AddJsonField(record, "reason", reason);
    FormatText(text, sizeof text, "%s (%s)", value, reason);
  } else {
    CopyText(text, sizeof text, value);
  }
  AddTextField(record, name, text);
  if (walk.verify)
    return;
  if (lstrcmpA(value, "replace now") == 0) {
    ++walk.tally->now;
    ++walk.tally->outcome.replaced;
  } else if (lstrcmpA(value, "replace at the restart") == 0) {
    ++walk.tally->atRestart;
    walk.tally->outcome.restartOperations += 2; // the deletion, then the move
  } else
    ++walk.tally->notReplaced;
}

// What the preview adds to the copy's decision: the installed file as it is now.
struct Installed {
  int exists;
  int readOnly;
  int held;
};

Installed AddInstalledFields(CheckRecord *record, const char *target) {
  Installed is;
  DWORD attributes = Os.GetFileAttributesA(target);
  is.exists = attributes != INVALID_FILE_ATTRIBUTES;
  is.readOnly = is.exists && (attributes & FILE_ATTRIBUTE_READONLY);
  DWORD why = CanReplaceNow(target) ? 0 : GetLastError();
  is.held = why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION;
  AddJsonField(record, "present", is.exists ? "yes" : "no");
  AddJsonField(record, "read-only", is.readOnly ? "yes" : "no");
  AddJsonField(record, "held open", is.held ? "yes" : "no");
  AddTextField(record, "installed file is",
               !is.exists               ? "absent"
               : is.readOnly && is.held ? "present, read-only, held open by a program"
               : is.readOnly            ? "present, read-only"
               : is.held                ? "present, held open by a program"
                                        : "present");
  return is;
}

// After the restart: whether the installed file holds the package file, or why not. Before it,
// whether the operations waiting for the file leave the package file there.
void VerifyEntry(const Walk &walk, const Entry &entry, const char *source, const char *target,
                 int waiting, CheckRecord *record) {
  const char *section = entry.list->section;
  Scratch scratch;
  Expansion expansion = ExpandToScratch(source, &scratch);
  int same = expansion == kExpanded && SameContent(scratch.name, target);
  Path standing;
  FindStandingFile(*walk.pending, target, standing);
  int stands = expansion == kExpanded && standing[0] && SameContent(scratch.name, standing);
  const char *state;
  const char *reason = "";
  char problem[64];
  if (waiting && expansion == kExpanded && !stands && lstrcmpiA(standing, target) != 0 &&
      (same || CanReadInstalledFile(target))) {
    GateReading reading;
    GateDecision decision = DecideSplFile(scratch.name, standing, walk.options->force, &reading);
    AddField(record, "after the restart", standing[0] ? standing : kNothingStands);
    AddGateFields(record, reading);
    if (decision == kGateReplace) {
      // What an earlier run left for the restart takes the package file's place again.
      state = "undone at the restart";
      ReportFinding(kWarning, target, section, entry.key,
                    standing[0] ? "the restart puts an older file there than the package file"
                                : "the restart deletes it");
    } else {
      state = "kept";
      reason = "the restart puts a file there that the package file is not newer than";
    }
  } else if (expansion != kExpanded) {
    const char *word = ReportUnusablePackageFile(source, expansion, section, entry.key);
    AddJsonField(record, "problem", word);
    FormatText(problem, sizeof problem, "package file: %s", word);
    state = problem;
  } else if (!same && !CanReadInstalledFile(target)) {
    // Its version cannot be known, and the patcher did not replace it for that reason.
    state = "installed file: unreadable";
    ReportFinding(kError, target, section, entry.key,
                  "cannot be read (held open without sharing, or no rights): the patcher does not "
                  "replace it");
  } else if (same && waiting) {
    state = "replaced";
    reason = "but an operation for it still waits for the restart";
    ReportFinding(kWarning, target, section, entry.key,
                  "holds the package file, but an operation for it still waits for the restart");
  } else if (same) {
    state = "replaced";
  } else if (waiting) {
    // A replacement of its own is a deletion and a move: more waits from an earlier run.
    state = "waits for the restart";
    reason = waiting > 2 ? "behind operations an earlier run left for it" : "";
    ReportFinding(kWarning, target, section, entry.key,
                  waiting > 2 ? "not replaced yet: it waits for the restart, behind operations "
                                "an earlier run left for it"
                              : "not replaced yet: it waits for the restart");
  } else {
    GateReading reading;
    GateDecision decision = DecideSplFile(scratch.name, target, walk.options->force, &reading);
    AddGateFields(record, reading);
    state = decision == kGateReplace ? "not replaced" : "kept";
    if (decision == kGateRefuseVersion)
      reason = "the installed version is greater";
    else if (decision == kGateRefuseTime)
      reason = "the package file is not newer";
    else
      ReportFinding(
          kError, target, section, entry.key,
          "does not hold the package file, and no operation for it waits for the restart");
  }
  DiscardScratch(&scratch);
  AddOutcome(record, walk, "state", state, reason);
}

// Why the decision is what it is, in the record's words; findings say the rest in full.
// waiting names the operations that already wait for the target; buf holds a reason made here.
const char *ExplainDecision(const CopyDecision &d, const Installed &is, int forced,
                            const char *because, const Entry &entry, const char *source,
                            const char *target, const char *waiting, char *buf, int cap) {
  if (d.expansion == kNoRoom) {
    ReportFinding(kError, source, entry.list->section, entry.key,
                  "the copy would fail: the package file cannot be expanded beside the target");
    return "the installed file's folder takes no new file";
  }
  if (d.unreadable == 2) {
    ReportFinding(kError, target, entry.list->section, entry.key,
                  "the installed file cannot be read (held open without sharing, or no rights): "
                  "the copy would fail rather than take it for a file without a version");
    return "the installed file cannot be read";
  }
  if (d.action == kCopyFail && d.block == kNotAFile && d.expansion == kExpanded) {
    ReportFinding(kError, target, entry.list->section, entry.key,
                  "a folder has the installed file's name: the copy would fail");
    return "a folder has the installed file's name";
  }
  if (because[0] && (d.action == kCopyRefuse || d.action == kCopyFail))
    return because;
  if (d.earlier && (d.action == kCopyReplaceAtRestart || d.action == kCopyRefuse)) {
    int behind = d.action == kCopyReplaceAtRestart;
    ReportFinding(kWarning, target, entry.list->section, entry.key,
                  behind ? "restart operations already wait for it: the copy must wait behind "
                           "them, or they would undo it"
                         : "restart operations already wait for it, and leave a file the "
                           "package file is not newer than: the patcher refuses");
    FormatText(buf, cap,
               behind                         ? "behind the operations waiting for it: %s"
               : d.gate == kGateRefuseVersion ? "the operations waiting for it leave a greater "
                                                "version: %s"
                                              : "the operations waiting for it leave a file "
                                                "that is not older: %s",
               waiting);
    return buf;
  }
  if (d.gate == kGateRefuseVersion)
    return "the installed version is greater";
  if (d.gate == kGateRefuseTime)
    return "the package file is not newer";
  if (d.action == kCopyReplaceAtRestart)
    return is.held ? "held open by a program" : is.readOnly ? "read-only" : "cannot be written now";
  return forced                    ? "/FOW"
         : !is.exists              ? "not installed yet"
         : d.reading.timesCompared ? "the package file is newer"
                                   : "the package version is greater";
}

// Before the run: the copy's own decision over an expansion in the temp folder, shown.
void PredictEntry(const Walk &walk, const Entry &entry, const char *source, const char *target,
                  const Installed &is, const char *waiting, CheckRecord *record) {
  char temp[MAX_PATH];
  GetTempFolder(temp);
  CopyDecision decision;
  DecideCopy(source, target, temp, walk.options->force, walk.pending, &decision);
  DiscardDecision(&decision);
  if (decision.earlier)
    AddField(record, "after the restart",
             decision.standing[0] ? decision.standing : kNothingStands);
  if (decision.expansion != kNoRoom && !decision.unreadable)
    AddGateFields(record, decision.reading);
  walk.tally->outcome.failures += decision.failures;
  const char *problem = "";
  const char *section = entry.list->section;
  if (decision.blind)
    problem = ReportUnusablePackageFile(source, kNoRoom, section, entry.key);
  else if (decision.expansion != kExpanded && decision.expansion != kNoRoom)
    problem = ReportUnusablePackageFile(source, decision.expansion, section, entry.key);
  if (problem[0])
    AddJsonField(record, "problem", problem);
  char because[64];
  because[0] = 0;
  if (problem[0])
    FormatText(because, sizeof because, "package file: %s", problem);
  static const char *const kVerdicts[] = {"replace now", "replace at the restart", "refuse",
                                          "refuse"};
  char reason[kReasonCapacity];
  AddOutcome(record, walk, "decision", kVerdicts[decision.action],
             ExplainDecision(decision, is, walk.options->force, because, entry, source, target,
                             waiting, reason, sizeof reason));
  AddLogLines(record, decision.lines);
}

// The entry as the run composes it: skipped when absent or when a path does not fit.
int ComposeEntry(const Walk &walk, const Entry &entry, Path &source, Path &target) {
  const char *outcome = walk.verify ? "state" : "decision";
  CheckRecord record;
  source[0] = 0;
  target[0] = 0;
  const char *operation = entry.list->printProcessor ? "CopyPrtProcFile" : "CopySysFile";
  int present = 1;
  // As the runs refuse names: the listed name before the probe, the shared source after it.
  const char *refused = IsPlainFileName(entry.targetName) ? nullptr : entry.targetName;
  if (refused && entry.list->onlyWhenPresent)
    operation = "CopySysFileIfPresent";
  else if (entry.list->onlyWhenPresent && !FindInSystemFolder(entry.targetName, &present)) {
    operation = "CopySysFileIfPresent";
    present = -1;
  }
  if (!refused && present == 1 && entry.sourceName[0] && !IsPlainFileName(entry.sourceName))
    refused = entry.sourceName;
  int composed = !refused && present >= 0 &&
                 ComposeTargetPath(*entry.list, entry.targetName, target) &&
                 ComposeSourcePath(walk.folder, entry.sourceName, walk.options->tag, source);
  if (!composed) {
    source[0] = 0;
    target[0] = 0;
  }
  if (present == 1 && composed)
    return 1;
  if (present == 0 && !refused) {
    // Composed for the record only; the run looks no further than the probe.
    BeginEntryRecord(&record, entry, source, target);
    AddOutcome(&record, walk, outcome, walk.verify ? "absent" : "skip as absent",
               "only files already in the system folder are replaced");
    EmitRecord(&record);
    return 0;
  }
  char line[kLineCapacity];
  line[0] = 0;
  AppendLine(line, sizeof line, refused ? kLineNotPlainName : kLinePathTooLong,
             refused ? refused : entry.targetName, operation);
  ReportFinding(kError, refused ? refused : entry.targetName, entry.list->section, entry.key,
                refused
                    ? "not a plain file name (it holds \\, /, :, * or ?, is . or .., or names a "
                      "device): the patcher refuses the entry"
                    : "a path does not fit in 259 characters: the patcher skips the entry");
  BeginEntryRecord(&record, entry, "", "");
  ++walk.tally->outcome.failures;
  AddOutcome(&record, walk, outcome, walk.verify ? "skipped" : "skip",
             refused ? "not a plain file name" : "a path does not fit in 259 characters");
  AddLogLines(&record, line);
  EmitRecord(&record);
  return 0;
}

void PlanEntry(const Walk &walk, const Entry &entry) {
  Path source;
  Path target;
  if (!ComposeEntry(walk, entry, source, target))
    return;
  CheckRecord record;
  BeginEntryRecord(&record, entry, source, target);
  Installed is = AddInstalledFields(&record, target);
  PendingList pending;
  pending.target = target;
  pending.text[0] = 0;
  int waiting = ForEachPendingOperation(*walk.pending, target, CollectPending, &pending);
  AddJsonField(&record, "pending", waiting ? pending.text : "none");
  if (waiting)
    AddTextField(&record, "at the restart", pending.text);
  if (walk.verify)
    VerifyEntry(walk, entry, source, target, waiting, &record);
  else
    PredictEntry(walk, entry, source, target, is, pending.text, &record);
  EmitRecord(&record);
}

void WalkList(const Walk &walk, const char *ini, const PatchList &list) {
  Path shared;
  const char *sharedSource = ReadSharedSource(ini, list, shared) ? shared : nullptr;
  for (int index = 0; index < list.limit; ++index) {
    Path name;
    if (!ListedNameAt(ini, list.section, index, name))
      return;
    Entry entry;
    entry.list = &list;
    FormatText(entry.key, sizeof entry.key, "%d", index);
    entry.sourceName = sharedSource ? sharedSource : name;
    entry.targetName = name;
    ++walk.tally->entries;
    PlanEntry(walk, entry);
  }
}

const char *WindowsName(unsigned osClass) {
  switch (osClass) {
  case kOsClass9x:
    return "95, 98 or Me";
  case kOsClassNT4:
    return "NT 4.0";
  case kOsClass2000:
    return "2000";
  default:
    return "XP or later";
  }
}

int Run(const char *folder, const RunOptions &options, int verify, PlanTally *tally) {
  FillBytes(tally, sizeof *tally, 0);
  unsigned osClass = GetOsClass();
  char system[MAX_PATH];
  GetSystemFolder(system);
  char ini[MAX_PATH];
  int iniFits = CopyText(ini, MAX_PATH, folder) && AppendPath(ini, MAX_PATH, "tolvanix.ini");

  CheckRecord record;
  BeginRecord(&record, "system", verify ? "verify on this machine" : "plan on this machine");
  AddJsonNumber(&record, "os class", osClass);
  AddField(&record, "windows", WindowsName(osClass));
  // Which half of the system was read: x64, the native folders of 64-bit Windows, or x86.
  AddField(&record, "architecture", kBuildArchitecture);
  char chosen[MAX_PATH];
  if (FormatText(chosen, MAX_PATH, "%s\\modules\\%s", folder, options.tag.text) < 0)
    CopyText(chosen, MAX_PATH, options.tag.text);
  AddJsonField(&record, "package folder", chosen);
  AddJsonField(&record, "package", folder);
  AddJsonField(&record, "system directory", system);
  AddJsonField(&record, "forced", options.force ? "yes (/FOW)" : "no");
  AddTextField(&record, "package folder", folder);
  AddTextField(&record, "package files from", chosen);
  AddTextField(&record, "system folder", system);
  AddTextField(&record, "/FOW",
               options.force ? "yes: the gate is skipped, every file replaced" : "no");
  EmitRecord(&record);

  if (osClass == kOsClass9x) {
    ReportFinding(kWarning, "", "", "",
                  "Windows 95, 98 or Me: the patcher ends at once and replaces nothing");
    return CheckExitCode();
  }
  int problem = FindPackageProblem(folder, options.tag);
  tally->outcome.packageUnusable = problem != kPackageUsable;
  if (!iniFits || problem == kNoConfigFile || problem == kNoProgramFolder) {
    ReportFinding(kError, iniFits ? ini : folder, "", "",
                  "no tolvanix.ini: the patcher reads nothing and replaces no file");
    return CheckExitCode();
  }
  if (problem == kNoPackageFolder)
    ReportFinding(kError, chosen, "", "",
                  "no such package folder, while a list names a file: a quiet run exits 1619");
  PendingOperations pending;
  if (!LoadPendingOperations(&pending))
    ReportFinding(kWarning, "", "", "",
                  "the operations waiting for the restart cannot be read from the registry");

  Walk walk = {folder, &options, verify, tally, &pending};
  for (const PatchList &list : kPatchLists)
    WalkList(walk, ini, list);
  FreePendingOperations(&pending);
  if (tally->entries == 0)
    ReportFinding(kWarning, ini, "", "",
                  "no list names a file: the patcher replaces nothing, yet it stops and starts "
                  "the spooler and asks to restart Windows");
  return CheckExitCode();
}

} // namespace

int PlanPatch(const char *folder, const RunOptions &options, PlanTally *tally) {
  return Run(folder, options, 0, tally);
}

int VerifyPatch(const char *folder, const RunOptions &options) {
  PlanTally unused;
  return Run(folder, options, 1, &unused);
}
