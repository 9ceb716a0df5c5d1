// tolvanix-check: checks a package before it ships, shows what a patch run would do to this
// machine, and verifies a patch after the restart. It reads through the patcher's own code
// (configuration lists, path composition, version gate) so that what it predicts is what the
// patcher decides.
#pragma once

#include "common/common.h"
#include "replace/replace.h"

// output.cpp ---------------------------------------------------------------------------------

// Where the records go (the standard output in the program; a file in the unit tests), and
// whether as one JSON object per line instead of text for a person.
extern HANDLE CheckOutput;
extern int CheckJson;
extern int CheckErrors;
extern int CheckWarnings;

static const int kRecordCapacity = 8192;

// One record: a JSON object on one line, or a headline with one "  name: value" line per
// field. A record that would not fit is not cut: it is replaced by an error saying so.
struct CheckRecord {
  char json[kRecordCapacity];
  char text[kRecordCapacity];
  int jsonLength;
  int textLength;
  int overflow;
  int textFields; // fields on the person's line so far
};

void BeginRecord(CheckRecord *record, const char *type, const char *headline);
void AddField(CheckRecord *record, const char *name, const char *value);
void AddNumberField(CheckRecord *record, const char *name, long long value);
void EmitRecord(CheckRecord *record);

enum FindingLevel { kWarning, kError };
// One finding, one line: the level, the file and key it concerns (either may be empty), the
// message. Counts it.
void ReportFinding(FindingLevel level, const char *file, const char *section, const char *key,
                   const char *message);
// Writes text as a JSON string, quoted, into buf (cap characters). Returns its length, or -1
// when it does not fit (buf then empty).
int JsonQuote(char *buf, int cap, const char *text);
// 2 with errors, 1 with warnings only, else 0.
int CheckExitCode();
// The 64-bit number as "0x" and sixteen hexadecimal digits, into buf (at least 19 characters).
char *FormatNumber(long long value, char *buf);
// The file time as "YYYY-MM-DD hh:mm:ss UTC", or "0" for the time of an unreadable file.
char *FormatTime(long long time, char *buf, int cap);

// package.cpp --------------------------------------------------------------------------------

int CheckPackage(const char *folder);
// The package file expanded as the patcher expands it, but into a fresh file of the temp folder
// (the check writes nothing beside the installed files). DiscardScratch removes it.
struct Scratch {
  char name[MAX_PATH];
  FileIdentity identity;
};
Expansion ExpandToScratch(const char *source, Scratch *scratch);
void DiscardScratch(Scratch *scratch);
// The warnings the gate's reading of one payload deserves; the payload is the expanded file.
// Returns the number of findings reported.
int CheckPayloadVersion(const char *expanded, const char *source, const char *section,
                        const char *key);

// plan.cpp -----------------------------------------------------------------------------------

int PlanPatch(const char *folder, OsTag tag);
int VerifyPatch(const char *folder, OsTag tag);

// The restart operations waiting in PendingFileRenameOperations, read once per run.
int LoadPendingOperations();
void FreePendingOperations();
// Calls action for every operation on target: from is the file to be moved, to its new name
// ("" for a deletion). Returns how many there were.
typedef void (*PendingAction)(const char *from, const char *to, void *context);
int ForEachPendingOperation(const char *target, PendingAction action, void *context);

// command.cpp --------------------------------------------------------------------------------

// The whole program from the argument text (what follows its own name). Returns the exit code.
int RunCheck(const char *args);
