// The command line: a command, an optional package folder, --json, and the patcher's own
// options for the commands that predict its run.
#include "check/check.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const char kUsage[] = "usage: tolvanix-check package|plan|verify [FOLDER] [--json] "
                      "[/OS=NT|/OS=2000] [/FOW]";

const char kHelp[] =
    "tolvanix-check: checks a tolvanix package before it ships, shows what a patch\r\n"
    "run would do on this machine, and verifies the patch after the restart. It\r\n"
    "changes nothing.\r\n"
    "\r\n"
    "usage: tolvanix-check package|plan|verify [FOLDER] [--json]\r\n"
    "                      [/OS=NT|/OS=2000] [/FOW]\r\n"
    "       tolvanix-check --help | -h | /? | help\r\n"
    "\r\n"
    "  package           checks the package: tolvanix.ini as the patcher reads it,\r\n"
    "                    every listed file in modules\\NT and modules\\2K, the\r\n"
    "                    companion library, and who may write to the package\r\n"
    "                    folder and everything in it (a warning for anyone but\r\n"
    "                    administrators, SYSTEM and TrustedInstaller; a share's own\r\n"
    "                    permissions are not seen)\r\n"
    "  plan              what a patch run would do on this machine, file by file,\r\n"
    "                    and how many files it would replace now, at the restart and\r\n"
    "                    not at all\r\n"
    "  verify            after a patch run and its restart: which installed files\r\n"
    "                    hold the package file, which still wait for the restart,\r\n"
    "                    which were kept\r\n"
    "  FOLDER            the package folder, where tolvanix.ini lies (default: the\r\n"
    "                    folder of tolvanix-check.exe)\r\n"
    "  --json            one JSON object per line (the README lists the fields)\r\n"
    "  /OS=NT, /OS=2000  plan and verify with the files of modules\\NT or modules\\2K\r\n"
    "                    instead of those for this Windows, as the patcher's options\r\n"
    "                    do\r\n"
    "  /FOW              plan and verify as for the patcher's /FOW: every file\r\n"
    "                    replaced, whatever its version\r\n"
    "\r\n"
    "on 64-bit Windows tolvanix-check64.exe beside it runs the command: it reads\r\n"
    "what the 64-bit patcher writes (spool\\prtprocs\\x64, the native system32,\r\n"
    "modules\\X64) and says \"architecture: x64\"\r\n"
    "\r\n"
    "exit code: 0 nothing found, 1 warnings only, 2 errors or bad usage\r\n"
    "\r\n"
    "what the output says:\r\n"
    "  error:, warning:  a finding: the file, the [section] and key of tolvanix.ini,\r\n"
    "                    what is wrong and what the patcher does then\r\n"
    "  [SECTION] KEY = NAME\r\n"
    "                    a file named by one of the lists of tolvanix.ini\r\n"
    "  package file      the copy in modules\\NT or modules\\2K that the patcher\r\n"
    "                    installs\r\n"
    "  installed file    the file it replaces: in the system folder or, for\r\n"
    "                    [PRINTPROC], in spool\\prtprocs\\w32x86 below it\r\n"
    "  installed file is\r\n"
    "                    present or absent; read-only or held open by a program, and\r\n"
    "                    then it is replaced at the restart, unless it cannot even be\r\n"
    "                    read: then the copy fails\r\n"
    "  at the restart    operations already waiting in the registry for the next\r\n"
    "                    restart; they are carried out after the patch run, so the\r\n"
    "                    gate judges the package file against the file they leave\r\n"
    "  after the restart the file those operations leave at the installed file's\r\n"
    "                    name; a copy the gate lets through waits behind them\r\n"
    "  version           the FileVersion text; the gate takes each number's digits\r\n"
    "                    as hexadecimal ones and, where it reads the text otherwise,\r\n"
    "                    says so\r\n"
    "  time              the last-write time (UTC), compared only when the versions\r\n"
    "                    are equal\r\n"
    "  the gate          the patcher's rule: a file is replaced when the package\r\n"
    "                    file's version is greater or, the versions equal, its time\r\n"
    "                    is later\r\n"
    "  decision (plan)   replace now, replace at the restart, refuse, skip as absent,\r\n"
    "                    skip (a name that is not a plain file name, a path too long)\r\n"
    "  /QUIET would exit (plan's summary)\r\n"
    "                    the exit code of a quiet patch run: 1619 no package to use,\r\n"
    "                    1603 a file that cannot be replaced (also a package file or\r\n"
    "                    installed file that is there but cannot be read, or is\r\n"
    "                    compressed in a form the system cannot expand), 3010 an\r\n"
    "                    operation waits for the restart, else 0; all but a spooler\r\n"
    "                    that does not run again, a crash in the companion library\r\n"
    "                    (1603) and another run going on (1618), which no preview\r\n"
    "                    can know\r\n"
    "  state (verify)    replaced, waits for the restart, undone at the restart\r\n"
    "                    (what waits leaves another file there), kept, not\r\n"
    "                    replaced, absent, installed file: unreadable, or what is\r\n"
    "                    wrong with the package file\r\n"
    "  log line          a line that the patcher's /L mode would write for this file\r\n";

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

// Whether the patcher refuses to run on this machine: no half of the package for its
// processor (32-bit on x64 Windows without the 64-bit checker beside it, ARM64), or, for the
// 64-bit program, no modules\X64 in the package.
int RefusedHere(NativeHalf half, const char *folder) {
  if (half != kThisHalf)
    return 1;
#ifdef _WIN64
  Path native;
  if (!CopyText(native, MAX_PATH, folder) || !AppendPath(native, MAX_PATH, kNativePackageFolder))
    return 1;
  DWORD attributes = Os.GetFileAttributesA(native);
  return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
  (void)folder;
  return 0;
#endif
}

int Usage(const char *why) {
  CheckRecord record;
  BeginRecord(&record, "usage", kUsage);
  AddField(&record, "error", why);
  AddTextField(&record, "help", "tolvanix-check --help");
  EmitRecord(&record);
  return 2;
}

// The command line as read: the command, its folder and the patcher's options.
struct CheckCommand {
  char command[16];
  char folder[MAX_PATH];
  int which; // 1 package, 2 plan, 3 verify, else 0
  int help;
  int haveTag;
  RunOptions options;
};

// Returns null, or why the command line is bad usage.
const char *ParseArguments(const char *args, CheckCommand *c) {
  FillBytes(c, sizeof *c, 0);
  c->options.tag = kOsTag2K;
  const char *why = nullptr;
  const char *cursor = args;
  char word[MAX_PATH];
  int got;
  while ((got = NextWord(&cursor, word, MAX_PATH)) != 0) {
    if (got < 0)
      why = "an argument is longer than 259 characters";
    else if (lstrcmpA(word, "--help") == 0 || lstrcmpA(word, "-h") == 0 ||
             lstrcmpA(word, "/?") == 0 || (c->command[0] == 0 && lstrcmpA(word, "help") == 0))
      c->help = 1;
    else if (lstrcmpA(word, "--json") == 0)
      Check.json = 1;
    else if (lstrcmpA(word, "/FOW") == 0)
      c->options.force = 1;
    else if (lstrcmpA(word, "/OS=NT") == 0)
      c->haveTag = 1, c->options.tag = kOsTagNT;
    else if (lstrcmpA(word, "/OS=2000") == 0)
      c->haveTag = 2, c->options.tag = kOsTag2K;
    else if (word[0] == '-' || word[0] == '/')
      why = "unknown option";
    else if (c->command[0] == 0) {
      if (!CopyText(c->command, sizeof c->command, word))
        why = "unknown command";
    } else if (c->folder[0] == 0)
      CopyText(c->folder, MAX_PATH, word);
    else
      why = "more than one folder";
  }
  c->which = lstrcmpA(c->command, "package") == 0  ? 1
             : lstrcmpA(c->command, "plan") == 0   ? 2
             : lstrcmpA(c->command, "verify") == 0 ? 3
                                                   : 0;
  if (!why && c->which == 0)
    why = c->command[0] ? "unknown command" : "no command";
  if (!why && c->which == 1 && (c->options.force || c->haveTag))
    why = "/OS= and /FOW apply to plan and verify only";
  return why;
}

void EmitSummary(const CheckCommand &c, const PlanTally &tally) {
  CheckRecord record;
  char headline[300];
  char counts[160];
  counts[0] = 0;
  const int quietExit = PatchExitCode(tally.outcome);
  if (c.which == 2)
    FormatText(counts, sizeof counts,
               " %d file(s) would be replaced now, %d at the restart, %d not at all; /QUIET would "
               "exit %d;",
               tally.now, tally.atRestart, tally.notReplaced, quietExit);
  FormatText(headline, sizeof headline, "%s:%s %d error(s), %d warning(s), exit code %d", c.command,
             counts, Check.errors, Check.warnings, CheckExitCode());
  BeginRecord(&record, "summary", headline);
  AddJsonField(&record, "command", c.command);
  if (c.which == 2) {
    AddJsonNumber(&record, "replace now", tally.now);
    AddJsonNumber(&record, "replace at the restart", tally.atRestart);
    AddJsonNumber(&record, "not replaced", tally.notReplaced);
    AddJsonNumber(&record, "quiet exit", quietExit);
  }
  AddJsonNumber(&record, "errors", Check.errors);
  AddJsonNumber(&record, "warnings", Check.warnings);
  AddJsonNumber(&record, "exit", CheckExitCode());
  EmitRecord(&record);
}

} // namespace

int RunCheck(const char *args) {
  Check.errors = 0;
  Check.warnings = 0;
  Check.json = 0;
  CheckCommand c;
  const char *why = ParseArguments(args, &c);
  if (c.help) {
    WriteText(kHelp);
    return 0;
  }
  if (why)
    return Usage(why);

  // The check reads the folders the patch would write: on 64-bit Windows the 64-bit program's.
  NativeHalf half = FindNativeHalf();
#ifndef _WIN64
  DWORD handedOn = 0;
  if (half == kHalf64 && RunBesideProgram(kCheck64Name, args, 1, &handedOn))
    return static_cast<int>(handedOn);
#endif

  // The patcher reads its configuration next to itself; the default folder is this program's.
  char full[MAX_PATH];
  if (c.folder[0] == 0) {
    ProgramInstance = nullptr;
    GetProgramDirectory(full);
  } else {
    char *part = nullptr;
    DWORD length = CheckOs.GetFullPathNameA(c.folder, MAX_PATH, full, &part);
    if (length == 0 || length >= MAX_PATH)
      return Usage("the folder's full path does not fit in 259 characters");
    // Without a trailing backslash, as the patcher's program directory.
    for (int n = lstrlenA(full); n > 0 && full[n - 1] == '\\'; --n)
      full[n - 1] = 0;
  }

  PlanTally tally;
  FillBytes(&tally, sizeof tally, 0);
  if (c.which == 1) {
    CheckPackage(full);
  } else if (RefusedHere(half, full)) {
    ReportFinding(kError, full, "", "",
                  "this package has no files for this processor type: a patch run changes nothing "
                  "here and with /QUIET exits 1633");
  } else {
    if (!c.haveTag)
      c.options.tag = GetOsClass() == kOsClassNT4 ? kOsTagNT : kOsTag2K;
#ifdef _WIN64
    c.options.tag = kOsTagX64; // as the patcher: the 64-bit files whatever "/OS=" says
#endif
    if (c.which == 2)
      PlanPatch(full, c.options, &tally);
    else
      VerifyPatch(full, c.options);
  }
  EmitSummary(c, tally);
  return CheckExitCode();
}
