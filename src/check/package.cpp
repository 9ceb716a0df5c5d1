// The package check: every list as the patcher reads it and what it never reads, the payloads
// for both systems as the version gate reads them, and the companion library.
#include "check/check.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const int kMessageCapacity = 1000;

// A text no configuration file can hold, to tell a missing key from a present one.
const char kAbsent[] = "\x01";

void Finding(FindingLevel level, const char *file, const char *section, const char *key,
             const char *format, const char *a = "", const char *b = "", const char *c = "") {
  char message[kMessageCapacity];
  if (FormatText(message, kMessageCapacity, format, a, b, c) < 0)
    CopyText(message, kMessageCapacity, "(the message does not fit)");
  ReportFinding(level, file, section, key, message);
}

int IsDigits(const char *text) {
  if (!text[0])
    return 0;
  for (const char *p = text; *p; ++p)
    if (*p < '0' || *p > '9')
      return 0;
  return 1;
}

// The number of a key the patcher would read: "%d" of it gives the key back. -1 otherwise.
int CanonicalIndex(const char *key) {
  if (!IsDigits(key) || (key[0] == '0' && key[1]) || lstrlenA(key) > 6)
    return -1;
  int n = 0;
  for (const char *p = key; *p; ++p)
    n = n * 10 + (*p - '0');
  return n;
}

// Bytes above 0x7F that all pair up as UTF-8 sequences: a file saved as UTF-8 and read, as
// every configuration file is, in the ANSI code page. Plain ASCII is not UTF-8 here.
int LooksLikeUtf8(const char *text) {
  int sequences = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p;) {
    unsigned char c = *p;
    int follow = c < 0x80                 ? 0
                 : c >= 0xC2 && c <= 0xDF ? 1
                 : c >= 0xE0 && c <= 0xEF ? 2
                 : c >= 0xF0 && c <= 0xF4 ? 3
                                          : -1;
    if (follow < 0)
      return 0;
    ++p;
    for (int i = 0; i < follow; ++i, ++p)
      if (*p < 0x80 || *p > 0xBF)
        return 0;
    sequences += follow > 0;
  }
  return sequences > 0;
}

// The profile functions know comments only on lines of their own: "kv.dll   ; the driver" is
// read whole, blanks and all. A ';' after a blank is far likelier a comment than a name.
int HoldsComment(const char *value) {
  for (const char *p = value; *p; ++p)
    if (*p == ';' && p > value && (p[-1] == ' ' || p[-1] == '\t'))
      return 1;
  return 0;
}

void CheckName(const char *ini, const char *section, const char *key, const char *name) {
  if (HoldsComment(name))
    Finding(kWarning, ini, section, key,
            "\"%s\" holds a ';' after a blank: a comment after a value is part of the value, so "
            "the patcher looks for a file of exactly this name: put the comment on a line of its "
            "own",
            name);
  if (LooksLikeUtf8(name))
    Finding(kWarning, ini, section, key,
            "\"%s\" looks like UTF-8, but tolvanix.ini is read in the system's ANSI code page, "
            "so the patcher looks for a file of exactly this spelling: save tolvanix.ini in "
            "that code page",
            name);
  // The patcher's own test: a name it would not join to a folder is refused with a log line.
  if (!IsPlainFileName(name))
    Finding(kError, ini, section, key,
            "\"%s\" is not a plain file name (it holds \\, /, :, * or ?, is . or .., or names "
            "a device such as NUL or COM1): the patcher refuses it with a failure line",
            name);
}

// The keys of the section that the patcher never reads, each one finding.
void CheckUnreadKeys(const char *ini, const PatchList &list, int count) {
  const DWORD capacity = 65536;
  char *keys = static_cast<char *>(Os.LocalAlloc(LPTR, capacity));
  if (!keys) {
    Finding(kError, ini, list.section, "", "out of memory while reading the key names");
    return;
  }
  // A null key name gives every key name of the section, each terminated, ending in two zeros.
  Os.GetPrivateProfileStringA(list.section, nullptr, "", keys, capacity, ini);
  char gapKey[16];
  FormatText(gapKey, sizeof gapKey, "%d", count);
  for (const char *key = keys; *key; key += lstrlenA(key) + 1) {
    char value[kListValueCapacity];
    ReadConfigValueAt(ini, list.section, key, "", value, kListValueCapacity);
    int index = CanonicalIndex(key);
    if (index >= 0 && index < count)
      continue;
    if (list.sourceKey && lstrcmpiA(key, list.sourceKey) == 0)
      continue;
    if (value[0] == 0)
      continue; // an empty key is the gap itself, or nothing at all
    if (index >= list.limit) {
      char limit[16];
      FormatText(limit, sizeof limit, "%d", list.limit - 1);
      Finding(kWarning, ini, list.section, key,
              "\"%s\" is past the last key the patcher reads (%s): never read", value, limit);
    } else if (index >= 0) {
      Finding(kWarning, ini, list.section, key, "\"%s\" comes after the gap at key %s: never read",
              value, gapKey);
    } else if (IsDigits(key)) {
      Finding(kWarning, ini, list.section, key,
              "\"%s\" is under a key with a leading zero, which is not a list number: never read",
              value);
    } else {
      Finding(kWarning, ini, list.section, key,
              "\"%s\" is under a key that is not a list number: never read", value);
    }
  }
  Os.LocalFree(keys);
}

int ReadHead(const char *path, unsigned char *buf, DWORD size, DWORD *got) {
  *got = 0;
  HANDLE file = Os.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  Os.ReadFile(file, buf, size, got, nullptr);
  Os.CloseHandle(file);
  return 1;
}

DWORD FileSizeOf(const char *path) {
  WIN32_FIND_DATAA found;
  FillBytes(&found, sizeof found, 0);
  HANDLE search = Os.FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE)
    return 0;
  Os.FindClose(search);
  return found.nFileSizeLow;
}

const char *const kGateTables[] = {"040904b0", "041104b0"};
// Tables to look in when the file names none: common languages in Unicode and ANSI code pages.
const char *const kProbeLanguages[] = {"0409", "0411", "0407", "040c", "0410", "0c0a",
                                       "0413", "0416", "0419", "0804", "0404", "0412",
                                       "0809", "0000", "0405", "0415", "041d", "0406"};
const char *const kProbeCodePages[] = {"04b0", "04e4", "0000", "03a4", "04e2", "04e3"};

// A FileVersion under a string table the gate does not read: its name in table (9 chars).
int FindOtherTable(void *block, char *table, char *version) {
  struct Translation {
    WORD language;
    WORD codePage;
  } *pairs = nullptr;
  UINT length = 0;
  char path[64];
  char *value = nullptr;
  UINT valueLength = 0;
  if (Os.VerQueryValueA(block, "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&pairs),
                        &length) &&
      pairs) {
    for (UINT i = 0; i < length / sizeof *pairs; ++i) {
      FormatText(table, 9, "%04x%04x", pairs[i].language, pairs[i].codePage);
      FormatText(path, sizeof path, "\\StringFileInfo\\%s\\FileVersion", table);
      if (Os.VerQueryValueA(block, path, reinterpret_cast<void **>(&value), &valueLength) &&
          value && CopyText(version, MAX_PATH, value))
        return 1;
    }
  }
  for (const char *language : kProbeLanguages) {
    for (const char *codePage : kProbeCodePages) {
      FormatText(table, 9, "%s%s", language, codePage);
      if (lstrcmpA(table, kGateTables[0]) == 0 || lstrcmpA(table, kGateTables[1]) == 0)
        continue;
      FormatText(path, sizeof path, "\\StringFileInfo\\%s\\FileVersion", table);
      if (Os.VerQueryValueA(block, path, reinterpret_cast<void **>(&value), &valueLength) &&
          value && CopyText(version, MAX_PATH, value))
        return 1;
    }
  }
  table[0] = 0;
  return 0;
}

// Four dot-separated numbers of one to four digits: the only form the gate reads as a person
// would.
int IsPlainVersion(const char *text) {
  int parts = 0;
  const char *p = text;
  while (true) {
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      ++digits;
      ++p;
    }
    if (digits == 0 || digits > 4)
      return 0;
    ++parts;
    if (*p == 0)
      return parts == 4;
    if (*p != '.' || parts == 4)
      return 0;
    ++p;
  }
}

} // namespace

int CheckPayloadVersion(const char *expanded, const char *source, const char *section,
                        const char *key) {
  int before = Check.errors + Check.warnings;
  unsigned char head[2] = {0, 0};
  DWORD got = 0;
  ReadHead(expanded, head, 2, &got);
  if (got < 2 || head[0] != 'M' || head[1] != 'Z') {
    Finding(kWarning, source, section, key,
            "not a Windows program or library: no version, the gate compares times only");
    return Check.errors + Check.warnings - before;
  }
  char version[MAX_PATH];
  long long number = ParseVersionString(GetFileVersionString(expanded, version, MAX_PATH));

  // The binary version and the other tables, which the gate never looks at.
  char binary[64];
  binary[0] = 0;
  char table[16];
  char other[MAX_PATH];
  int inOther = 0;
  DWORD unused = 0;
  DWORD size = Os.GetFileVersionInfoSizeA(expanded, &unused);
  void *block = size ? Os.LocalAlloc(LPTR, size) : nullptr;
  if (block && Os.GetFileVersionInfoA(expanded, 0, size, block)) {
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (Os.VerQueryValueA(block, "\\", reinterpret_cast<void **>(&fixed), &length) && fixed &&
        length >= sizeof *fixed)
      FormatText(binary, sizeof binary, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                 LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                 LOWORD(fixed->dwFileVersionLS));
    if (version[0] == 0)
      inOther = FindOtherTable(block, table, other);
  }
  if (block)
    Os.LocalFree(block);

  char reading[64];
  DescribeNumber(number, reading, sizeof reading);
  if (inOther) {
    Finding(kWarning, source, section, key,
            "FileVersion \"%s\" is in the string table %s, which the gate does not read "
            "(it reads 040904b0 and 041104b0): it counts as version 0",
            other, table);
  } else if (version[0] == 0) {
    if (binary[0] && lstrcmpA(binary, "0.0.0.0") != 0)
      Finding(kWarning, source, section, key,
              "no FileVersion text, only the binary version %s: the gate reads version 0 and "
              "compares times only",
              binary);
    else
      Finding(kWarning, source, section, key,
              "no FileVersion: the gate reads version 0 and compares times only");
  } else if (number < 0) {
    Finding(kWarning, source, section, key,
            "FileVersion \"%s\" has a first number of 8000 or more: it reads as less than every "
            "installed version, so the gate refuses it",
            version);
  } else if (!IsPlainVersion(version)) {
    Finding(kWarning, source, section, key, "FileVersion \"%s\" reads as %s to the gate", version,
            reading);
  } else if (binary[0] && ParseVersionString(binary) != number) {
    Finding(kWarning, source, section, key,
            "the binary version %s disagrees with FileVersion \"%s\", which the gate reads", binary,
            version);
  }
  return Check.errors + Check.warnings - before;
}

namespace {

// One payload for one system: present, expands, its version as the gate reads it.
// Paths are the same length for both systems, so their faults are reported on the first pass
// only; a name already reported as no plain file name is not looked for.
void CheckPayload(const char *folder, OsTag tag, const char *name, const PatchList &list,
                  const char *key, int firstPass) {
  const char *section = list.section;
  if (!IsPlainFileName(name))
    return;
  char source[MAX_PATH];
  if (!ComposeSourcePath(folder, name, tag, source)) {
    if (firstPass)
      Finding(kError, name, section, key,
              "the package path of \"%s\" in modules\\NT and modules\\2K does not fit in 259 "
              "characters: the patcher skips it",
              name);
    return;
  }
  char target[MAX_PATH];
  if (firstPass && !ComposeTargetPath(list, name, target))
    Finding(kError, source, section, key,
            "the installed path of \"%s\" does not fit in 259 characters on this machine: the "
            "patcher skips it",
            name);

  Scratch scratch;
  const char *expanded = scratch.name;
  // The patcher refuses a compressed file that expands to less than its header declares.
  Expansion expansion = ExpandToScratch(source, &scratch);
  if (expansion != kExpanded) {
    ReportUnusablePackageFile(source, expansion, section, key);
    return;
  }
  DWORD declared = 0;
  int compressed = ReadDeclaredSize(source, &declared);
  DWORD size = FileSizeOf(expanded);

  char version[MAX_PATH];
  long long number = ParseVersionString(GetFileVersionString(expanded, version, MAX_PATH));
  CheckPayloadVersion(expanded, source, section, key);
  DiscardScratch(&scratch);

  CheckRecord record;
  char line[MAX_PATH + 200];
  FormatText(line, sizeof line, "package file %s ([%s] %s)", source, section, key);
  BeginRecord(&record, "payload", line);
  AddJsonField(&record, "system", tag.text);
  AddJsonField(&record, "section", section);
  AddJsonField(&record, "key", key);
  AddJsonField(&record, "source", source);
  AddJsonField(&record, "compressed", compressed ? "yes" : "no");
  AddJsonNumber(&record, "size", size);
  AddJsonField(&record, "version", version);
  NumberText text;
  AddJsonField(&record, "number", FormatNumber(number, text));
  FormatText(line, sizeof line, compressed ? "yes, %lu bytes once expanded" : "no, %lu bytes",
             size);
  AddTextField(&record, "compressed", line);
  AddTextField(&record, "version", DescribeVersion(version, number, line, sizeof line));
  EmitRecord(&record);
}

void CheckCompanion(const char *folder) {
  static const char *const kNames[] = {"kvprc7a.dll", "kvprcm01.dll"};
  for (const char *name : kNames) {
    char path[MAX_PATH];
    if (!CopyText(path, MAX_PATH, folder) || !AppendPath(path, MAX_PATH, name)) {
      Finding(kError, name, "", "",
              "the companion library's path does not fit in 259 characters: it is never loaded");
      continue;
    }
    if (Os.GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
      continue;
    // Mapped without running its start-up code or loading what it imports: the check looks,
    // it does not run the vendor's library.
    HMODULE module = Os.LoadLibraryExA(path, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module) {
      char error[16];
      FormatText(error, sizeof error, "%lu", GetLastError());
      Finding(kError, path, "", "",
              "the companion library cannot be loaded (error %s): the patcher tries the next "
              "name",
              error);
      continue;
    }
    int start = Os.GetProcAddress(module, "InstService") != nullptr;
    int stop = Os.GetProcAddress(module, "UninstService") != nullptr;
    Os.FreeLibrary(module);
    if (!start || !stop)
      Finding(kError, path, "", "",
              "the companion library lacks %s: on XP and later the helper service is not %s",
              !start && !stop ? "both InstService and UninstService"
                              : (!start ? "InstService" : "UninstService"),
              !start && !stop ? "stopped or started" : (!start ? "started" : "stopped"));
    CheckRecord record;
    char headline[MAX_PATH + 32];
    FormatText(headline, sizeof headline, "companion library %s", path);
    BeginRecord(&record, "companion", headline);
    AddJsonField(&record, "path", path);
    AddField(&record, "InstService", start ? "yes" : "no");
    AddField(&record, "UninstService", stop ? "yes" : "no");
    EmitRecord(&record);
    return;
  }
  CheckRecord record;
  BeginRecord(&record, "companion", "companion library: none");
  AddJsonField(&record, "path", "");
#ifdef _WIN64
  AddTextField(&record, "looked for", "kvprc7a.dll, then kvprcm01.dll, in modules\\X64");
#else
  AddTextField(&record, "looked for", "kvprc7a.dll, then kvprcm01.dll, in the package folder");
#endif
  AddTextField(&record, "on XP and later", "the helper service is neither stopped nor started");
  EmitRecord(&record);
}

// tolvanix.ini of the package folder, as the patcher finds it. Returns 0, with the finding
// reported, when there is none to read.
int FindPackageIni(const char *folder, char (&ini)[MAX_PATH]) {
  DWORD attributes = Os.GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Finding(kError, folder, "", "", "the package folder does not exist");
    return 0;
  }
  if (!CopyText(ini, MAX_PATH, folder) || !AppendPath(ini, MAX_PATH, "tolvanix.ini")) {
    Finding(kError, folder, "", "",
            "the package folder's path is too long: tolvanix.ini beside it does not fit in 259 "
            "characters, so the patcher reads no configuration");
    return 0;
  }
  HANDLE file = Os.CreateFileA(ini, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    char number[16];
    FormatText(number, sizeof number, "%lu", error);
    Finding(kError, ini, "", "",
            error == ERROR_FILE_NOT_FOUND
                ? "missing: the patcher reads nothing and replaces no file"
                : "cannot be read (error %s): the patcher reads nothing and replaces no file",
            number);
    CheckCompanion(folder);
    return 0;
  }
  Os.CloseHandle(file);
  return 1;
}

// The maker's name, which the closing box's caption shows.
void CheckMaker(const char *ini) {
  char maker[kTextCapacity];
  ReadConfigValueAt(ini, "tolvanix", "Manufacturer", kAbsent, maker, sizeof maker);
  int makerAbsent = lstrcmpA(maker, kAbsent) == 0;
  if (makerAbsent)
    CopyText(maker, sizeof maker, "Kestova");
  else if (maker[0] == 0)
    Finding(kWarning, ini, "tolvanix", "Manufacturer",
            "empty: the caption starts with a blank (\" PrintProcessor patch\")");
  else if (lstrlenA(maker) >= kTextCapacity - 1)
    Finding(kWarning, ini, "tolvanix", "Manufacturer",
            "longer than 298 characters: the patcher cuts it");
  else if (HoldsComment(maker))
    Finding(kWarning, ini, "tolvanix", "Manufacturer",
            "\"%s\" holds a ';' after a blank: a comment after a value is part of the value, so "
            "the caption reads \"%s PrintProcessor patch\": put the comment on a line of its own",
            maker, maker);
  else if (LooksLikeUtf8(maker))
    Finding(kWarning, ini, "tolvanix", "Manufacturer",
            "\"%s\" looks like UTF-8, but tolvanix.ini is read in the system's ANSI code page: "
            "the caption shows it as it reads here",
            maker);
  CheckRecord record;
  char line[400];
  FormatText(line, sizeof line, "closing box caption: \"%s PrintProcessor patch\"", maker);
  BeginRecord(&record, "maker", line);
  AddJsonField(&record, "Manufacturer", maker);
  AddTextField(&record, "from",
               makerAbsent ? "the default, as [tolvanix] has no Manufacturer"
                           : "[tolvanix] Manufacturer");
  EmitRecord(&record);
}

// Every list's entries, counted into counts, and the shared source, read into src.
void CheckLists(const char *ini, int (&counts)[kPatchListCount], Path &src) {
  // The one list whose entries share a source, SRC.
  const PatchList &helpers = kPatchLists[kHelperList];
  ReadConfigValueAt(ini, helpers.section, helpers.sourceKey, kAbsent, src, MAX_PATH);
  int srcAbsent = lstrcmpA(src, kAbsent) == 0;
  if (srcAbsent)
    CopyText(src, MAX_PATH, helpers.sourceDefault);

  CheckRecord record;
  char line[400];
  int named = 0;
  for (int l = 0; l < kPatchListCount; ++l) {
    const PatchList &list = kPatchLists[l];
    Path name;
    while (counts[l] < list.limit && ListedNameAt(ini, list.section, counts[l], name)) {
      char key[16];
      FormatText(key, sizeof key, "%d", counts[l]);
      CheckName(ini, list.section, key, name);
      FormatText(line, sizeof line, "[%s] %s = %s", list.section, key, name);
      BeginRecord(&record, "entry", line);
      AddJsonField(&record, "section", list.section);
      AddJsonField(&record, "key", key);
      AddJsonField(&record, "value", name);
      EmitRecord(&record);
      ++counts[l];
    }
    named += counts[l];
    CheckUnreadKeys(ini, list, counts[l]);
  }

  if (named == 0)
    Finding(kWarning, ini, "", "",
            "no list names a file: the patcher replaces nothing, yet it stops and starts the "
            "spooler and asks to restart Windows");
  if (counts[kHelperList] > 0) {
    if (src[0] == 0)
      Finding(kError, ini, helpers.section, helpers.sourceKey,
              "empty: it names the package folder itself, which cannot be read as a file, so "
              "the copy of every KVSPLPROC entry that is installed fails");
    else
      CheckName(ini, helpers.section, helpers.sourceKey, src);
  }
  FormatText(line, sizeof line, "[%s] %s = %s", helpers.section, helpers.sourceKey, src);
  BeginRecord(&record, "source", line);
  AddJsonField(&record, "SRC", src);
  AddJsonField(&record, "default", srcAbsent ? "yes" : "no");
  if (counts[kHelperList] == 0)
    AddTextField(&record, "used", "no, as [KVSPLPROC] names no file");
  else if (srcAbsent)
    AddTextField(&record, "from", "the default, as [KVSPLPROC] has no SRC");
  EmitRecord(&record);
}

} // namespace

Expansion ExpandToScratch(const char *source, Scratch *scratch) {
  char folder[MAX_PATH];
  scratch->name[0] = 0;
  if (!GetTempFolder(folder))
    return kExpansionFailed;
  return ExpandPackageFile(source, folder, scratch->name, &scratch->identity);
}

void DiscardScratch(Scratch *scratch) {
  if (scratch->name[0])
    DeleteIfSameFile(scratch->name, scratch->identity);
  scratch->name[0] = 0;
}

const char *ReportUnusablePackageFile(const char *source, Expansion expansion, const char *section,
                                      const char *key) {
  if (expansion == kExpanded)
    return "";
  if (expansion == kNoRoom) {
    Finding(kError, source, section, key,
            "the temp folder takes no new file: the package file cannot be looked into");
    return "not checked";
  }
  // Where it should be ("modules\XX", the last two folders) and the name the list gives.
  const char *name = source;
  const char *folder = source;
  const char *parent = source;
  for (const char *p = source; *p; ++p)
    if (*p == '\\') {
      parent = folder;
      folder = name;
      name = p + 1;
    }
  char relative[MAX_PATH];
  if (!CopyText(relative, MAX_PATH, parent))
    relative[0] = 0;
  if (name > parent)
    relative[name - parent - 1] = 0;

  DWORD attributes = Os.GetFileAttributesA(source);
  DWORD error = GetLastError();
  char number[16];
  if (expansion == kPackageUnreadable && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Finding(kError, source, section, key,
            "is a folder, not a file: the patcher cannot read it, and the copy fails");
    return "a folder";
  }
  if (expansion == kPackageUnreadable) {
    HANDLE file = Os.CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    FormatText(number, sizeof number, "%lu", GetLastError());
    if (file != INVALID_HANDLE_VALUE)
      Os.CloseHandle(file);
    Finding(kError, source, section, key,
            "is there but cannot be opened for reading (error %s): the copy fails, and the "
            "installed file is kept",
            number);
    return "unreadable";
  }
  const char *form = FindUnexpandableForm(source);
  if (form) {
    Finding(kError, source, section, key,
            "not expandable: compressed as %s, which the system's expander does not take (it "
            "expands only SZDD of mode A, as COMPRESS.EXE without -Z and mscompress write): the "
            "patcher's expansion fails and the file is never installed as it stands",
            lstrcmpA(form, "SZ") == 0     ? "the older SZ form"
            : lstrcmpA(form, "KWAJ") == 0 ? "KWAJ (COMPRESS.EXE -Z)"
                                          : "SZDD of a mode other than A");
    return "not expandable";
  }
  if (attributes == INVALID_FILE_ATTRIBUTES && error == ERROR_INVALID_NAME) {
    Finding(kError, source, section, key,
            "no file can have this name: the package file is missing");
    return "missing";
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // mscompress and COMPRESS.EXE name their output kvpp.dll_ or kvpp.dl_; the patcher opens
    // the installed name only, and expands whatever it finds under it.
    char other[MAX_PATH];
    int length = lstrlenA(source);
    int found = 0;
    if (FormatText(other, MAX_PATH, "%s_", source) >= 0 &&
        Os.GetFileAttributesA(other) != INVALID_FILE_ATTRIBUTES)
      found = 1;
    else if (length > 0 && source[length - 1] != '_' && CopyText(other, MAX_PATH, source)) {
      other[length - 1] = '_';
      found = Os.GetFileAttributesA(other) != INVALID_FILE_ATTRIBUTES;
    }
    const char *hint = "";
    if (LooksLikeUtf8(name))
      hint = "; its name looks like UTF-8, but tolvanix.ini is read in the system's ANSI code "
             "page";
    if (found) {
      const char *otherName = other + (name - source);
      char message[kMessageCapacity];
      if (FormatText(message, kMessageCapacity,
                     "missing from %s, which holds %s instead: the patcher looks for the "
                     "installed name, and a compressed file keeps it (rename %s to %s)",
                     relative, otherName, otherName, name) < 0)
        CopyText(message, kMessageCapacity, "missing: a file of a compressed name is there");
      ReportFinding(kError, source, section, key, message);
    } else {
      Finding(kError, source, section, key, "missing from %s%s", relative, hint);
    }
    return "missing";
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    Finding(kError, source, section, key, "is a folder, not a file");
    return "a folder";
  }
  DWORD declared = 0;
  int compressed = ReadDeclaredSize(source, &declared);
  if (expansion == kExpansionFailed && compressed) {
    FormatText(number, sizeof number, "%lu", declared);
    Finding(kError, source, section, key,
            "the compressed file is damaged or cut short: it does not expand to the %s bytes its "
            "header declares",
            number);
    return "damaged";
  }
  if (expansion == kExpansionFailed) {
    Finding(kError, source, section, key, "cannot be read to its end");
    return "unreadable";
  }
  // Not opened: either the file itself, or the expander refused its header.
  HANDLE file = Os.CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    FormatText(number, sizeof number, "%lu", GetLastError());
    Finding(kError, source, section, key, "cannot be opened (error %s)", number);
    return "unreadable";
  }
  Os.CloseHandle(file);
  Finding(kError, source, section, key,
          compressed ? "not expandable: it is marked compressed, but in a form the system's "
                       "expander does not know"
                     : "not expandable: the system's expander does not take it");
  return "not expandable";
}

int CheckPackage(const char *folder) {
  char ini[MAX_PATH];
  if (!FindPackageIni(folder, ini)) {
    CheckWhoMayWrite(folder);
    return CheckExitCode();
  }
  CheckMaker(ini);
  int counts[kPatchListCount] = {};
  Path src;
  CheckLists(ini, counts, src);

#ifdef _WIN64
  // On 64-bit Windows the whole package is checked, its 64-bit half with it.
  const OsTag tags[] = {kOsTagNT, kOsTag2K, kOsTagX64};
#else
  const OsTag tags[] = {kOsTagNT, kOsTag2K};
#endif
  for (int t = 0; t < static_cast<int>(sizeof tags / sizeof tags[0]); ++t) {
    for (int l = 0; l < kPatchListCount; ++l) {
      const PatchList &list = kPatchLists[l];
      if (list.sourceKey) {
        if (counts[l] > 0 && src[0])
          CheckPayload(folder, tags[t], src, list, list.sourceKey, t == 0);
        continue;
      }
      Path name;
      for (int i = 0; i < counts[l] && ListedNameAt(ini, list.section, i, name); ++i) {
        char key[16];
        FormatText(key, sizeof key, "%d", i);
        CheckPayload(folder, tags[t], name, list, key, t == 0);
      }
    }
  }
#ifdef _WIN64
  // Only the 64-bit companion is one this program can look into, and the one it loads.
  Path companions;
  if (CopyText(companions, MAX_PATH, folder) &&
      AppendPath(companions, MAX_PATH, kNativePackageFolder))
    CheckCompanion(companions);
#else
  CheckCompanion(folder);
#endif
  CheckWhoMayWrite(folder);
  return CheckExitCode();
}
