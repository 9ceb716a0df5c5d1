// The command line: a command, an optional package folder, --json, and the patcher's own
// options for the commands that predict its run.
#include "check/check.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const char kUsage[] = "usage: tolvanix-check package|plan|verify [FOLDER] [--json] "
                      "[/OS=NT|/OS=2000] [/FOW]";

// Takes the next blank-separated word from *cursor into word (cap characters); quotes group
// blanks and are dropped. Returns 0 at the end, -1 for a word that does not fit.
int NextWord(const char **cursor, char *word, int cap) {
  const char *p = *cursor;
  while (*p == ' ' || *p == '\t')
    ++p;
  if (*p == 0) {
    *cursor = p;
    return 0;
  }
  int n = 0;
  int quoted = 0;
  int fits = 1;
  for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
    if (*p == '"') {
      quoted = !quoted;
      continue;
    }
    if (n < cap - 1)
      word[n++] = *p;
    else
      fits = 0;
  }
  word[n] = 0;
  *cursor = p;
  return fits ? 1 : -1;
}

int Usage(const char *why) {
  CheckRecord record;
  BeginRecord(&record, "usage", kUsage);
  AddField(&record, "error", why);
  EmitRecord(&record);
  return 2;
}

} // namespace

int RunCheck(const char *args) {
  CheckErrors = 0;
  CheckWarnings = 0;
  CheckJson = 0;
  char command[16];
  char folder[MAX_PATH];
  command[0] = 0;
  folder[0] = 0;
  int force = 0;
  int haveTag = 0;
  OsTag tag = kOsTag2K;
  const char *why = nullptr;

  const char *cursor = args;
  char word[MAX_PATH];
  int got;
  while ((got = NextWord(&cursor, word, MAX_PATH)) != 0) {
    if (got < 0)
      why = "an argument is longer than 259 characters";
    else if (lstrcmpA(word, "--json") == 0)
      CheckJson = 1;
    else if (lstrcmpA(word, "/FOW") == 0)
      force = 1;
    else if (lstrcmpA(word, "/OS=NT") == 0)
      haveTag = 1, tag = kOsTagNT;
    else if (lstrcmpA(word, "/OS=2000") == 0)
      haveTag = 2, tag = kOsTag2K;
    else if (word[0] == '-' || word[0] == '/')
      why = "unknown option";
    else if (command[0] == 0) {
      if (!CopyText(command, sizeof command, word))
        why = "unknown command";
    } else if (folder[0] == 0)
      CopyText(folder, MAX_PATH, word);
    else
      why = "more than one folder";
  }
  int which = lstrcmpA(command, "package") == 0  ? 1
              : lstrcmpA(command, "plan") == 0   ? 2
              : lstrcmpA(command, "verify") == 0 ? 3
                                                 : 0;
  if (!why && which == 0)
    why = command[0] ? "unknown command" : "no command";
  if (!why && which == 1 && (force || haveTag))
    why = "/OS= and /FOW apply to plan and verify only";
  if (why)
    return Usage(why);

  // The patcher reads its configuration next to itself; the default folder is this program's.
  char full[MAX_PATH];
  if (folder[0] == 0) {
    ProgramInstance = nullptr;
    GetProgramDirectory(full);
  } else {
    char *part = nullptr;
    DWORD length = Os.GetFullPathNameA(folder, MAX_PATH, full, &part);
    if (length == 0 || length >= MAX_PATH)
      return Usage("the folder's full path does not fit in 259 characters");
    // Without a trailing backslash, as the patcher's program directory.
    for (int n = lstrlenA(full); n > 0 && full[n - 1] == '\\'; --n)
      full[n - 1] = 0;
  }

  if (which == 1) {
    CheckPackage(full);
  } else {
    unsigned osClass = GetOsClass();
    if (!haveTag)
      tag = osClass == kOsClassNT4 ? kOsTagNT : kOsTag2K;
    ForceOverwrite = force;
    if (which == 2)
      PlanPatch(full, tag);
    else
      VerifyPatch(full, tag);
  }
  CheckRecord record;
  char headline[128];
  FormatText(headline, sizeof headline, "%s: %d error(s), %d warning(s)", command, CheckErrors,
             CheckWarnings);
  BeginRecord(&record, "summary", headline);
  AddField(&record, "command", command);
  AddNumberField(&record, "errors", CheckErrors);
  AddNumberField(&record, "warnings", CheckWarnings);
  AddNumberField(&record, "exit", CheckExitCode());
  EmitRecord(&record);
  return CheckExitCode();
}
