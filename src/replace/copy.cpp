// The copy of one listed file, as a decision and its execution. The patcher decides beside the
// target and executes; tolvanix-check decides over an expansion in its own folder and shows the
// same decision, so the two cannot tell different stories. What the gate reads is the package
// file as it would be installed.
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"
#include "report/report.h"

namespace {

// Appends one line to the decision's lines; a failure also counts.
void AddLine(CopyDecision *decision, int failure, const char *format, const char *first,
             const char *second = "") {
  int length = lstrlenA(decision->lines);
  FormatText(decision->lines + length, kCopyLinesCapacity - length, format, first, second);
  decision->failures += failure;
}

// A line of the execution, which only the patcher reaches.
void LogFailure(RunOutcome *outcome, const char *format, const char *target) {
  char line[kCopyLinesCapacity];
  if (FormatText(line, kCopyLinesCapacity, format, target) >= 0)
    AppendErrorLog(line);
  ++outcome->failures;
}

// The restart way: the installed file is deleted first, then the expansion takes its name.
// Returns 1 when both operations are registered, else 0 with the move's line logged.
int ReplaceAtRestart(const char *expanded, const char *target, RunOutcome *outcome) {
  // A failed first registration leaves nothing pending, so the expansion goes too.
  if (!Os.MoveFileExA(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    Os.DeleteFileA(expanded);
    LogFailure(outcome, kLineMoveFailed, target);
    return 0;
  }
  ++outcome->restartOperations;
  // The deletion is already pending and cannot be taken back through the API: the expansion
  // stays beside the target, the one copy from which the file can be put back by hand, and
  // the log says where it is.
  if (!Os.MoveFileExA(expanded, target, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    LogFailure(outcome, kLineMoveFailed, target);
    char line[kCopyLinesCapacity];
    if (FormatText(line, kCopyLinesCapacity, kLineNewCopyKept, expanded, target) >= 0)
      AppendErrorLog(line);
    return 0;
  }
  ++outcome->restartOperations;
  return 1;
}

} // namespace

void DecideCopy(const char *source, const char *target, const char *folder, int forced,
                const PendingOperations *pending, CopyDecision *decision) {
  CopyDecision &d = *decision;
  FillBytes(&d, sizeof d, 0);
  d.expansion = kNoRoom;
  const int elsewhere = folder != nullptr;
  char beside[MAX_PATH];
  if (!elsewhere && GetParentFolder(target, beside))
    folder = beside;
  // An empty folder is none: a fresh name there would fall in the current folder.
  if (folder && folder[0])
    d.expansion = ExpandPackageFile(source, folder, d.expanded, &d.identity);
  d.block = FindCopyBlock(target);
  // A copy made now would be undone by what waits for the restart: the gate judges the file
  // those operations leave instead.
  d.earlier = pending ? FindStandingFile(*pending, target, d.standing) : 0;
  const char *installed = d.earlier ? d.standing : target;
  // What cannot be read is never taken for absent or unversioned: the gate would then let an
  // older file through, or keep one for a reason that is not so.
  if (d.expansion == kPackageUnreadable) {
    AddLine(decision, 1, kLineUnreadable, source);
    d.unreadable = 1;
    d.action = kCopyFail;
    return;
  }
  // Beside a missing folder the patcher's expansion finds no room, wherever the check's went.
  if (d.expansion != kNoPackageFile && d.block == kNoFolder) {
    DiscardDecision(decision);
    d.expansion = kNoRoom;
  } else if (d.expansion == kNoRoom && elsewhere) {
    d.blind = 1;
    d.expansion = kExpanded;
  }
  if (d.expansion == kNoRoom || d.expansion == kExpansionFailed)
    AddLine(decision, 1, kLineExpansionFailed, target);
  // With nowhere to expand to there is nothing the gate could let through: the copy has failed.
  if (d.expansion == kNoRoom) {
    AddLine(decision, 1, kLineCopyFailed, target);
    d.action = kCopyFail;
    return;
  }
  // A loaded library's file can be read; one held without sharing cannot, and its version
  // would read as none. "/FOW" asks for no reading at all.
  if (!forced && d.block == kNothingInTheWay && !CanReadInstalledFile(installed)) {
    DiscardDecision(decision);
    AddLine(decision, 1, kLineUnreadable, installed);
    d.unreadable = 2;
    d.action = kCopyFail;
    return;
  }
  d.gate = DecideSplFile(d.expanded, installed, forced, &d.reading);
  d.action = kCopyRefuse;
  if (d.gate == kGateRefuseVersion) {
    AddLine(decision, 0, kLineVersionGreater, target, source);
  } else if (d.gate == kGateRefuseTime) {
    AddLine(decision, 0, kLineNotNewer, source, target);
  } else if (d.expansion != kExpanded) {
    AddLine(decision, 1, kLineCopyFailed, target);
    d.action = kCopyFail;
  } else if (d.block == kNotAFile) {
    // Something that is not a file at the name would take the deletion and the move at the
    // restart and swallow the expansion for good: the move's own line comes first.
    AddLine(decision, 1, kLineMoveFailed, target);
    AddLine(decision, 1, kLineCopyFailed, target);
    d.action = kCopyFail;
  } else if (d.earlier) {
    // Registered after the waiting operations, ours are carried out last: its file stands.
    d.action = kCopyReplaceAtRestart;
  } else {
    int now = CanReplaceNow(target);
    d.whyNotNow = now ? 0 : GetLastError();
    d.action = now ? kCopyReplaceNow : kCopyReplaceAtRestart;
  }
}

void DiscardDecision(CopyDecision *decision) {
  if (decision->expanded[0])
    DeleteIfSameFile(decision->expanded, decision->identity);
  decision->expanded[0] = 0;
}

int ExecuteCopy(const CopyDecision &decision, const char *target, RunOutcome *outcome) {
  if (decision.lines[0])
    AppendErrorLog(decision.lines);
  outcome->failures += decision.failures;
  const char *expanded = decision.expanded;
  if (decision.action == kCopyRefuse || decision.action == kCopyFail) {
    if (expanded[0])
      Os.DeleteFileA(expanded);
    return 0;
  }
  // A target that is held at the moment of the rename still takes the restart way.
  if (decision.action == kCopyReplaceNow &&
      Os.MoveFileExA(expanded, target, MOVEFILE_REPLACE_EXISTING)) {
    ++outcome->replaced;
  } else if (!ReplaceAtRestart(expanded, target, outcome)) {
    LogFailure(outcome, kLineCopyFailed, target);
    return 0;
  }
  DWORD attributes = Os.GetFileAttributesA(target);
  // Absent, it waits for a move that earlier operations make: nothing to clear yet.
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return decision.earlier != 0;
  // Also when the replacement waits for the restart: a read-only file would not be deleted
  // by the pending operation, and the new file must not come in read-only either.
  if (!Os.SetFileAttributesA(target, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
    return 0;
  return 1;
}

// The line of kLineFile* for what one copy did, from the outcome before and after it.
static void LogCopyResult(const CopyDecision &decision, const char *target,
                          const RunOutcome &before, const RunOutcome &after) {
  // Read from what the execution counted, not from the decision: a target held at the rename
  // goes the restart way, and a failed registration fails the copy.
  const char *format = after.failures > before.failures                     ? kLineFileFailed
                       : after.replaced > before.replaced                   ? kLineFileReplacedNow
                       : after.restartOperations > before.restartOperations ? kLineFileAtRestart
                       : decision.action != kCopyRefuse                     ? kLineFileFailed
                       : decision.expansion == kNoPackageFile               ? kLineFileKeptNoPackage
                       : decision.gate == kGateRefuseVersion                ? kLineFileKeptVersion
                                                                            : kLineFileKeptTime;
  char line[MAX_PATH + 60];
  if (FormatText(line, sizeof line, format, target) >= 0)
    AppendRunLog(line);
}

int CopySplFile(const char *source, const char *target, const RunOptions &options,
                RunOutcome *outcome) {
  // One expansion serves the gate and the copy. It lies beside the target, where only
  // administrators write, so what the gate reads is what gets installed.
  PendingOperations own = {nullptr, 0};
  PendingOperations *pending = options.pending;
  if (!pending) {
    LoadPendingOperations(&own);
    pending = &own;
  }
  CopyDecision decision;
  const RunOutcome before = *outcome;
  DecideCopy(source, target, nullptr, options.force, pending, &decision);
  int done = ExecuteCopy(decision, target, outcome);
  LogCopyResult(decision, target, before, *outcome);
  // A later entry for the same target must find this one's operations waiting too.
  if (pending != &own && outcome->restartOperations != before.restartOperations) {
    FreePendingOperations(pending);
    LoadPendingOperations(pending);
  }
  FreePendingOperations(&own);
  return done;
}
