// The plan of a patch run on this machine, and the check after its restart. Both walk the
// lists exactly as the runs do and decide through the runs' own gate; neither stops a service,
// writes outside the temp folder or registers a restart operation.
#include "check/check.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const int kLineCapacity = 600;

char *PendingBlock;
DWORD PendingSize;

// "\??\C:\x" and "!\??\C:\x" (replace existing) both name C:\x.
const char *PlainName(const char *name) {
  if (name[0] == '!')
    ++name;
  if (name[0] == '\\' && name[1] == '?' && name[2] == '?' && name[3] == '\\')
    name += 4;
  return name;
}

struct Entry {
  const char *section;
  char key[16];
  const char *sourceName;
  const char *targetName;
  int printProcessor;
  int onlyPresent;
};

struct PendingList {
  const char *target;
  char text[1200];
};

void CollectPending(const char *from, const char *to, void *context) {
  PendingList *list = static_cast<PendingList *>(context);
  char item[kLineCapacity];
  if (to[0] && lstrcmpiA(from, list->target) == 0)
    FormatText(item, sizeof item, "%smove it to %s", list->text[0] ? "; " : "", to);
  else if (to[0])
    FormatText(item, sizeof item, "%smove %s onto it", list->text[0] ? "; " : "", from);
  else
    FormatText(item, sizeof item, "%sdelete it", list->text[0] ? "; " : "");
  int have = lstrlenA(list->text);
  if (have + lstrlenA(item) < static_cast<int>(sizeof list->text))
    lstrcpyA(list->text + have, item);
}

// The package file expanded as CopySplFile expands it, with the lines the patcher logs before
// the gate when that fails. The patcher expands beside the target, so a missing target folder
// gives it no room there.
Expansion PredictExpansion(const char *source, const char *target, Scratch *scratch, char *lines,
                           int cap) {
  Expansion expansion = ExpandToScratch(source, scratch);
  char folder[MAX_PATH];
  DWORD attributes =
      GetTargetFolder(target, folder) ? Os.GetFileAttributesA(folder) : INVALID_FILE_ATTRIBUTES;
  if (expansion != kNoPackageFile &&
      (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))) {
    DiscardScratch(scratch);
    expansion = kNoRoom;
  }
  if (expansion == kNoRoom)
    FormatText(lines, cap,
               "LZCopy %s at CopyLZFile FALSE \\r\\nCopyLZFile %s at CopySplFile FALSE \\r\\n",
               target, target);
  else if (expansion == kExpansionFailed)
    FormatText(lines, cap, "LZCopy %s at CopyLZFile FALSE \\r\\n", target);
  return expansion;
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

void AddGateFields(CheckRecord *record, const GateReading &reading) {
  char text[64];
  if (reading.forced) {
    AddField(record, "gate", "skipped (/FOW)");
    return;
  }
  AddField(record, "package version", reading.packageVersion);
  AddField(record, "package number", FormatNumber(reading.packageNumber, text));
  AddField(record, "installed version", reading.installedVersion);
  AddField(record, "installed number", FormatNumber(reading.installedNumber, text));
  if (reading.timesCompared) {
    AddField(record, "package time", FormatTime(reading.packageTime, text, sizeof text));
    AddField(record, "installed time", FormatTime(reading.installedTime, text, sizeof text));
  } else {
    AddField(record, "times", "not compared");
  }
}

struct Walk {
  const char *folder;
  OsTag tag;
  int verify;
};

void BeginEntryRecord(CheckRecord *record, const Entry &entry, const char *source,
                      const char *target) {
  char headline[kLineCapacity];
  FormatText(headline, sizeof headline, "[%s] %s = %s", entry.section, entry.key, entry.targetName);
  BeginRecord(record, "file", headline);
  AddField(record, "section", entry.section);
  AddField(record, "key", entry.key);
  AddField(record, "source", source);
  AddField(record, "target", target);
}

void PlanEntry(const Walk &walk, const Entry &entry) {
  CheckRecord record;
  char source[MAX_PATH];
  char target[MAX_PATH];
  source[0] = 0;
  target[0] = 0;
  const char *operation = entry.printProcessor ? "CopyPrtProcFile" : "CopySysFile";
  int present = 1;
  if (entry.onlyPresent && !FindInSystemFolder(entry.targetName, &present)) {
    operation = "CopySysFileIfPresent";
    present = -1;
  }
  if (present == 0) {
    // Composed for the record only; the run looks no further than the probe.
    if (!ComposeTargetPath(kPatchLists[kSystemList], entry.targetName, target) ||
        !ComposeSourcePath(walk.folder, entry.sourceName, walk.tag, source)) {
      source[0] = 0;
      target[0] = 0;
    }
    BeginEntryRecord(&record, entry, source, target);
    AddField(&record, "decision", walk.verify ? "absent: not patched" : "skip as absent");
    AddField(&record, "state", "absent");
    EmitRecord(&record);
    return;
  }
  if (present < 0 ||
      !ComposeTargetPath(kPatchLists[entry.printProcessor ? kPrintProcList : kSystemList],
                         entry.targetName, target) ||
      !ComposeSourcePath(walk.folder, entry.sourceName, walk.tag, source)) {
    char line[kLineCapacity];
    FormatText(line, sizeof line, "wsprintf %s at %s FALSE \\r\\n", entry.targetName, operation);
    ReportFinding(kError, entry.targetName, entry.section, entry.key,
                  "a path does not fit in 259 characters: the patcher skips the entry");
    BeginEntryRecord(&record, entry, "", "");
    AddField(&record, "decision", "skip");
    AddField(&record, "log", line);
    EmitRecord(&record);
    return;
  }

  BeginEntryRecord(&record, entry, source, target);
  DWORD attributes = Os.GetFileAttributesA(target);
  int exists = attributes != INVALID_FILE_ATTRIBUTES;
  int now = CanReplaceNow(target);
  DWORD why = now ? 0 : GetLastError();
  AddField(&record, "present", exists ? "yes" : "no");
  AddField(&record, "read-only", exists && (attributes & FILE_ATTRIBUTE_READONLY) ? "yes" : "no");
  AddField(&record, "held open",
           why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION ? "yes" : "no");

  PendingList pending;
  pending.target = target;
  pending.text[0] = 0;
  int waiting = ForEachPendingOperation(target, CollectPending, &pending);
  AddField(&record, "pending", waiting ? pending.text : "none");

  char line[2 * kLineCapacity];
  line[0] = 0;
  if (walk.verify) {
    Scratch scratch;
    int readable = ExpandToScratch(source, &scratch) == kExpanded;
    int same = readable && SameContent(scratch.name, target);
    const char *state;
    if (!readable) {
      state = "package file unreadable";
      ReportFinding(kError, source, entry.section, entry.key,
                    "the package file cannot be read or expanded");
    } else if (same && waiting) {
      state = "replaced, but a restart operation is still pending";
      ReportFinding(kWarning, target, entry.section, entry.key,
                    "holds the package file, but a restart operation for it is still pending");
    } else if (same) {
      state = "replaced";
    } else if (waiting) {
      state = "waits for the restart";
      ReportFinding(kWarning, target, entry.section, entry.key,
                    "not replaced yet: it waits for the restart");
    } else {
      GateReading reading;
      GateDecision decision = DecideSplFile(scratch.name, target, &reading);
      AddGateFields(&record, reading);
      if (decision == kGateRefuseVersion) {
        state = "kept: the installed version is greater";
      } else if (decision == kGateRefuseTime) {
        state = "kept: the package file is not newer";
      } else {
        state = "not replaced";
        ReportFinding(kError, target, entry.section, entry.key,
                      "does not hold the package file, and nothing is pending for it");
      }
    }
    DiscardScratch(&scratch);
    AddField(&record, "state", state);
    EmitRecord(&record);
    return;
  }

  Scratch scratch;
  Expansion expansion = PredictExpansion(source, target, &scratch, line, sizeof line);
  GateReading reading;
  GateDecision decision = DecideSplFile(scratch.name, target, &reading);
  DiscardScratch(&scratch);
  if (expansion != kNoRoom)
    AddGateFields(&record, reading);
  int length = lstrlenA(line);
  const char *verdict = "replace now";
  if (expansion == kNoRoom) {
    verdict = "refuse";
    ReportFinding(kError, source, entry.section, entry.key,
                  "the copy would fail: the package file cannot be expanded beside the target");
  } else if (decision == kGateRefuseVersion) {
    verdict = "refuse";
    FormatText(line + length, sizeof line - length, "version of %s is greater than %s \\r\\n",
               target, source);
  } else if (decision == kGateRefuseTime) {
    verdict = "refuse";
    FormatText(line + length, sizeof line - length, "%s is older than %s \\r\\n", source, target);
  } else if (expansion != kExpanded || (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY))) {
    verdict = "refuse";
    // A folder at the target's name takes no move: the move's own line comes first.
    FormatText(line + length, sizeof line - length,
               expansion == kExpanded ? "MoveFileEx %s at CopyLZFile FALSE \\r\\n"
                                        "CopyLZFile %s at CopySplFile FALSE \\r\\n"
                                      : "CopyLZFile %s at CopySplFile FALSE \\r\\n",
               target, target);
    ReportFinding(kError, source, entry.section, entry.key,
                  "the copy would fail: the package file cannot be read or expanded there");
  } else if (!now) {
    verdict = "replace at the restart";
  }
  AddField(&record, "decision", verdict);
  if (line[0])
    AddField(&record, "log", line);
  EmitRecord(&record);
}

void WalkList(const Walk &walk, const char *ini, const char *section, int limit,
              const char *sharedSource, int printProcessor) {
  for (int index = 0; index < limit; ++index) {
    char name[kListValueCapacity];
    if (!ListedNameAt(ini, section, index, name))
      return;
    Entry entry;
    entry.section = section;
    FormatText(entry.key, sizeof entry.key, "%d", index);
    entry.sourceName = sharedSource ? sharedSource : name;
    entry.targetName = name;
    entry.printProcessor = printProcessor;
    entry.onlyPresent = !printProcessor;
    PlanEntry(walk, entry);
  }
}

int Run(const char *folder, OsTag tag, int verify) {
  unsigned osClass = GetOsClass();
  char system[MAX_PATH];
  if (Os.GetSystemDirectoryA(system, MAX_PATH) >= MAX_PATH)
    system[0] = 0;
  char ini[MAX_PATH];
  int iniFits = CopyText(ini, MAX_PATH, folder) && AppendPath(ini, MAX_PATH, "tolvanix.ini");

  CheckRecord record;
  BeginRecord(&record, "system", verify ? "verify on this machine" : "plan on this machine");
  AddNumberField(&record, "os class", osClass);
  char chosen[MAX_PATH];
  if (FormatText(chosen, MAX_PATH, "%s\\modules\\%s", folder, tag.text) < 0)
    CopyText(chosen, MAX_PATH, tag.text);
  AddField(&record, "package folder", chosen);
  AddField(&record, "package", folder);
  AddField(&record, "system directory", system);
  AddField(&record, "forced", ForceOverwrite ? "yes (/FOW)" : "no");
  EmitRecord(&record);

  if (osClass == kOsClass9x) {
    ReportFinding(kWarning, "", "", "",
                  "Windows 95, 98 or Me: the patcher ends at once and replaces nothing");
    return CheckExitCode();
  }
  if (!iniFits || Os.GetFileAttributesA(ini) == INVALID_FILE_ATTRIBUTES) {
    ReportFinding(kError, iniFits ? ini : folder, "", "",
                  "no tolvanix.ini: the patcher reads nothing and replaces no file");
    return CheckExitCode();
  }
  if (!LoadPendingOperations())
    ReportFinding(kWarning, "", "", "",
                  "the pending restart operations cannot be read from the registry");

  Walk walk = {folder, tag, verify};
  WalkList(walk, ini, "PRINTPROC", 50, nullptr, 1);
  char src[kListValueCapacity];
  ReadConfigValueAt(ini, "KVSPLPROC", "SRC", "KVHLP00E.EXE", src, kListValueCapacity);
  WalkList(walk, ini, "KVSPLPROC", 200, src, 0);
  WalkList(walk, ini, "SrcFiles", 200, nullptr, 0);
  FreePendingOperations();
  return CheckExitCode();
}

} // namespace

int LoadPendingOperations() {
  FreePendingOperations();
  HKEY key = nullptr;
  LONG opened =
      Os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                       KEY_QUERY_VALUE, &key);
  if (opened != ERROR_SUCCESS)
    return 0;
  DWORD type = 0;
  DWORD size = 0;
  LONG asked =
      Os.RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size);
  if (asked == ERROR_FILE_NOT_FOUND) {
    Os.RegCloseKey(key);
    return 1; // nothing pending
  }
  // Room for two more terminators, so that a value stored without them still ends.
  PendingBlock =
      asked == ERROR_SUCCESS ? static_cast<char *>(Os.LocalAlloc(LPTR, size + 2)) : nullptr;
  if (!PendingBlock ||
      Os.RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                          reinterpret_cast<BYTE *>(PendingBlock), &size) != ERROR_SUCCESS) {
    FreePendingOperations();
    Os.RegCloseKey(key);
    return 0;
  }
  PendingSize = size;
  Os.RegCloseKey(key);
  return 1;
}

void FreePendingOperations() {
  if (PendingBlock)
    Os.LocalFree(PendingBlock);
  PendingBlock = nullptr;
  PendingSize = 0;
}

int ForEachPendingOperation(const char *target, PendingAction action, void *context) {
  if (!PendingBlock)
    return 0;
  int count = 0;
  const char *end = PendingBlock + PendingSize;
  const char *p = PendingBlock;
  // Pairs of names: the file, then its new name or the empty text for a deletion. An empty
  // first name is the list's end.
  while (p < end && *p) {
    const char *from = p;
    p += lstrlenA(p) + 1;
    const char *to = p < end ? p : "";
    if (p < end)
      p += lstrlenA(p) + 1;
    if (lstrcmpiA(PlainName(from), target) == 0 ||
        (to[0] && lstrcmpiA(PlainName(to), target) == 0)) {
      action(PlainName(from), PlainName(to), context);
      ++count;
    }
  }
  return count;
}

int PlanPatch(const char *folder, OsTag tag) { return Run(folder, tag, 0); }

int VerifyPatch(const char *folder, OsTag tag) { return Run(folder, tag, 1); }
