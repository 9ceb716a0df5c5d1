// tolvanix-check: checks a package before it ships, shows what a patch run would do to this
// machine, and verifies a patch after the restart. It reads through the patcher's own code
// (configuration lists, path composition, version gate) so that what it predicts is what the
// patcher decides.
#pragma once

#include "common/common.h"
#include "replace/replace.h"

// output.cpp ---------------------------------------------------------------------------------

// Everything a run of the check program changes as it goes.
struct CheckState {
  HANDLE output; // the standard output in the program; a file in the unit tests
  int json;      // one JSON object per line instead of text for a person
  int errors;    // findings so far
  int warnings;
};
extern CheckState Check;

// The calls only the check program makes, bound by BindCheckPlatform beside the patcher's.
struct CheckPlatformOps {
  decltype(&::GetStdHandle) GetStdHandle;
  decltype(&::GetFullPathNameA) GetFullPathNameA;
  // Who may write to the package.
  decltype(&::FindNextFileA) FindNextFileA;
  decltype(&::GetDriveTypeA) GetDriveTypeA;
  decltype(&::GetVolumeInformationA) GetVolumeInformationA;
  decltype(&::GetFileSecurityA) GetFileSecurityA;
  decltype(&::GetSecurityDescriptorOwner) GetSecurityDescriptorOwner;
  decltype(&::GetSecurityDescriptorDacl) GetSecurityDescriptorDacl;
  decltype(&::GetAce) GetAce;
  decltype(&::GetTokenInformation) GetTokenInformation;
};
extern CheckPlatformOps CheckOs;
void BindCheckPlatform();

static const int kRecordCapacity = 8192;

// One record in the form asked for: a JSON object on one line, or a headline with one
// "  label: value" line per field. The JSON names are a stable interface for build pipelines
// (the README lists them); the person's form says the same in plain words, so the two may
// differ in name and value, and each Add call below feeds one form or both. A record that would
// not fit is not cut: it is replaced by an error saying so.
struct CheckRecord {
  char text[kRecordCapacity];
  int length;
  int overflow;
};

void BeginRecord(CheckRecord *record, const char *type, const char *headline);
// A field under the same name and value in both forms.
void AddField(CheckRecord *record, const char *name, const char *value);
// A field of the JSON form only.
void AddJsonField(CheckRecord *record, const char *name, const char *value);
void AddJsonNumber(CheckRecord *record, const char *name, long long value);
// A line of the person's form only.
void AddTextField(CheckRecord *record, const char *label, const char *value);
void EmitRecord(CheckRecord *record);
// Text as it is, in either form (the help).
void WriteText(const char *text);

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
// The 64-bit number as "0x" and sixteen hexadecimal digits.
typedef char NumberText[19];
char *FormatNumber(long long value, NumberText &buf);
// The number's four fields, each in hexadecimal: the digits the gate took from the text.
char *DescribeNumber(long long number, char *buf, int cap);
// A FileVersion text for a person, with the gate's reading where that differs from the text
// (the gate takes each number's digits as hexadecimal ones: "1, 0, 0, 3" reads as 0.0.0.3).
char *DescribeVersion(const char *text, long long number, char *buf, int cap);
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
// Why a package file that did not expand cannot be used, as one error finding: missing (and
// what lies there under a compressed file's name), a folder, unreadable, not expandable,
// damaged. expansion is what ExpandToScratch gave. Returns the short word for the records'
// "problem" field, or "" for kExpanded.
const char *ReportUnusablePackageFile(const char *source, Expansion expansion, const char *section,
                                      const char *key);
// The warnings the gate's reading of one payload deserves; the payload is the expanded file.
// Returns the number of findings reported.
int CheckPayloadVersion(const char *expanded, const char *source, const char *section,
                        const char *key);

// permissions.cpp ----------------------------------------------------------------------------

// Warns when anyone but SYSTEM, Administrators and TrustedInstaller may write to the package
// folder or to anything in it, when an owner is not an administrator, and when its file system
// keeps no permissions; then one record of what was seen (and that a share's own permissions
// are not). Nothing for a folder that does not exist.
void CheckWhoMayWrite(const char *folder);

// plan.cpp -----------------------------------------------------------------------------------

// How many listed files a patch run would replace now, at the restart, and not at all, and
// what the run would hand back for its quiet exit code (the spooler's return aside, which no
// preview can know).
struct PlanTally {
  int entries;
  int now;
  int atRestart;
  int notReplaced;
  RunOutcome outcome;
};
int PlanPatch(const char *folder, const RunOptions &options, PlanTally *tally);
int VerifyPatch(const char *folder, const RunOptions &options);

// command.cpp --------------------------------------------------------------------------------

// The whole program from the argument text (what follows its own name). Returns the exit code.
int RunCheck(const char *args);
