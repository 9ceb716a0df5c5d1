// The package check: every list as the patcher reads it and what it never reads, the payloads
// for both systems as the version gate reads them, and the companion library.
#include "check/check.h"
#include "config/config.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const int kMessageCapacity = 1000;

struct ListDefinition {
  const char *section;
  int limit;
};
const ListDefinition kLists[] = {{"PRINTPROC", 50}, {"KVSPLPROC", 200}, {"SrcFiles", 200}};

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

// A name is joined to a folder unchanged: a wildcard matches other files in the presence
// probe, and a separator or a drive reaches outside the folder. 0 for a bare name.
int NameFault(const char *name) {
  for (const char *p = name; *p; ++p) {
    if (*p == '*' || *p == '?')
      return 1;
    if (*p == '\\' || *p == '/' || *p == ':')
      return 2;
  }
  return 0;
}

void CheckName(const char *ini, const char *section, const char *key, const char *name) {
  int fault = NameFault(name);
  if (fault == 1)
    Finding(kError, ini, section, key,
            "\"%s\" holds a wildcard: the patcher uses it as a file name unchanged", name);
  else if (fault == 2)
    Finding(kError, ini, section, key,
            "\"%s\" is not a bare file name: the patcher joins it to a folder unchanged", name);
}

// The keys of the section that the patcher never reads, each one finding.
void CheckUnreadKeys(const char *ini, const ListDefinition &list, int count) {
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
    if (lstrcmpA(list.section, "KVSPLPROC") == 0 && lstrcmpiA(key, "SRC") == 0)
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

void DescribeNumber(long long number, char *buf, int cap) {
  unsigned long long bits = static_cast<unsigned long long>(number);
  FormatText(buf, cap, "%lx.%lx.%lx.%lx", static_cast<unsigned long>((bits >> 48) & 0xFFFF),
             static_cast<unsigned long>((bits >> 32) & 0xFFFF),
             static_cast<unsigned long>((bits >> 16) & 0xFFFF),
             static_cast<unsigned long>(bits & 0xFFFF));
}

} // namespace

int CheckPayloadVersion(const char *expanded, const char *source, const char *section,
                        const char *key) {
  int before = CheckErrors + CheckWarnings;
  unsigned char head[2] = {0, 0};
  DWORD got = 0;
  ReadHead(expanded, head, 2, &got);
  if (got < 2 || head[0] != 'M' || head[1] != 'Z') {
    Finding(kWarning, source, section, key,
            "not a Windows program or library: no version, the gate compares times only");
    return CheckErrors + CheckWarnings - before;
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
  return CheckErrors + CheckWarnings - before;
}

namespace {

// One payload for one system: present, expands, its version as the gate reads it.
// Paths are the same length for both systems, so their faults are reported on the first pass
// only; a name already reported as no bare file name is not looked for.
void CheckPayload(const char *folder, OsTag tag, const char *name, const char *section,
                  const char *key, int printProcessor, int firstPass) {
  if (NameFault(name))
    return;
  char source[MAX_PATH];
  char relative[32];
  FormatText(relative, sizeof relative, "modules\\%s", tag.text);
  if (!ComposeSourcePath(folder, name, tag, source)) {
    if (firstPass)
      Finding(kError, name, section, key,
              "the package path of \"%s\" in modules\\NT and modules\\2K does not fit in 259 "
              "characters: the patcher skips it",
              name);
    return;
  }
  char target[MAX_PATH];
  if (firstPass &&
      !ComposeTargetPath(kPatchLists[printProcessor ? kPrintProcList : kSystemList], name, target))
    Finding(kError, source, section, key,
            "the installed path of \"%s\" does not fit in 259 characters on this machine: the "
            "patcher skips it",
            name);

  DWORD attributes = Os.GetFileAttributesA(source);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Finding(kError, source, section, key, "missing from %s", relative);
    return;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    Finding(kError, source, section, key, "is a folder, not a file");
    return;
  }

  DWORD declared = 0;
  int compressed = ReadDeclaredSize(source, &declared);

  Scratch scratch;
  const char *expanded = scratch.name;
  // The patcher refuses a compressed file that expands to less than its header declares.
  if (ExpandToScratch(source, &scratch) != kExpanded) {
    if (compressed) {
      char number[16];
      FormatText(number, sizeof number, "%lu", declared);
      Finding(kError, source, section, key,
              "the compressed file is truncated or damaged: it does not expand to the %s bytes "
              "its header declares",
              number);
    } else
      Finding(kError, source, section, key, "cannot be read");
    return;
  }
  DWORD size = FileSizeOf(expanded);

  char version[MAX_PATH];
  long long number = ParseVersionString(GetFileVersionString(expanded, version, MAX_PATH));
  CheckPayloadVersion(expanded, source, section, key);
  DiscardScratch(&scratch);

  CheckRecord record;
  char headline[600];
  FormatText(headline, sizeof headline, "payload %s [%s] %s: %s", tag.text, section, key, name);
  char text[32];
  BeginRecord(&record, "payload", headline);
  AddField(&record, "system", tag.text);
  AddField(&record, "section", section);
  AddField(&record, "key", key);
  AddField(&record, "source", source);
  AddField(&record, "compressed", compressed ? "yes" : "no");
  AddNumberField(&record, "size", size);
  AddField(&record, "version", version);
  AddField(&record, "number", FormatNumber(number, text));
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
    BeginRecord(&record, "companion", "companion library");
    AddField(&record, "path", path);
    AddField(&record, "InstService", start ? "yes" : "no");
    AddField(&record, "UninstService", stop ? "yes" : "no");
    EmitRecord(&record);
    return;
  }
  CheckRecord record;
  BeginRecord(&record, "companion", "companion library");
  AddField(&record, "path", "");
  EmitRecord(&record);
}

} // namespace

Expansion ExpandToScratch(const char *source, Scratch *scratch) {
  char folder[MAX_PATH];
  DWORD length = Os.GetTempPathA(MAX_PATH, folder);
  scratch->name[0] = 0;
  if (length == 0 || length >= MAX_PATH)
    return kExpansionFailed;
  return ExpandPackageFile(source, folder, scratch->name, &scratch->identity);
}

void DiscardScratch(Scratch *scratch) {
  if (scratch->name[0])
    DeleteIfSameFile(scratch->name, scratch->identity);
  scratch->name[0] = 0;
}

int CheckPackage(const char *folder) {
  char ini[MAX_PATH];
  DWORD attributes = Os.GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Finding(kError, folder, "", "", "the package folder does not exist");
    return CheckExitCode();
  }
  if (!CopyText(ini, MAX_PATH, folder) || !AppendPath(ini, MAX_PATH, "tolvanix.ini")) {
    Finding(kError, folder, "", "",
            "the package folder's path is too long: tolvanix.ini beside it does not fit in 259 "
            "characters, so the patcher reads no configuration");
    return CheckExitCode();
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
    return CheckExitCode();
  }
  Os.CloseHandle(file);

  char maker[300];
  ReadConfigValueAt(ini, "tolvanix", "Manufacturer", kAbsent, maker, sizeof maker);
  if (lstrcmpA(maker, kAbsent) == 0)
    CopyText(maker, sizeof maker, "Kestova");
  else if (maker[0] == 0)
    Finding(kWarning, ini, "tolvanix", "Manufacturer",
            "empty: the caption starts with a blank (\" PrintProcessor patch\")");
  else if (lstrlenA(maker) >= 299)
    Finding(kWarning, ini, "tolvanix", "Manufacturer",
            "longer than 298 characters: the patcher cuts it");
  CheckRecord record;
  BeginRecord(&record, "maker", "caption's maker word");
  AddField(&record, "Manufacturer", maker);
  EmitRecord(&record);

  char src[kListValueCapacity];
  ReadConfigValueAt(ini, "KVSPLPROC", "SRC", kAbsent, src, kListValueCapacity);
  int srcAbsent = lstrcmpA(src, kAbsent) == 0;
  if (srcAbsent)
    CopyText(src, kListValueCapacity, "KVHLP00E.EXE");

  int counts[3] = {0, 0, 0};
  for (int l = 0; l < 3; ++l) {
    const ListDefinition &list = kLists[l];
    char name[kListValueCapacity];
    while (counts[l] < list.limit && ListedNameAt(ini, list.section, counts[l], name)) {
      char key[16];
      FormatText(key, sizeof key, "%d", counts[l]);
      CheckName(ini, list.section, key, name);
      char headline[400];
      FormatText(headline, sizeof headline, "[%s] %s = %s", list.section, key, name);
      BeginRecord(&record, "entry", headline);
      AddField(&record, "section", list.section);
      AddField(&record, "key", key);
      AddField(&record, "value", name);
      EmitRecord(&record);
      ++counts[l];
    }
    CheckUnreadKeys(ini, list, counts[l]);
  }

  if (counts[1] > 0) {
    if (src[0] == 0)
      Finding(kError, ini, "KVSPLPROC", "SRC",
              "empty: every KVSPLPROC entry would be replaced from the package folder itself");
    else
      CheckName(ini, "KVSPLPROC", "SRC", src);
  }
  BeginRecord(&record, "source", "[KVSPLPROC] SRC");
  AddField(&record, "SRC", src);
  AddField(&record, "default", srcAbsent ? "yes" : "no");
  EmitRecord(&record);

  const OsTag tags[] = {kOsTagNT, kOsTag2K};
  for (int t = 0; t < 2; ++t) {
    const OsTag &tag = tags[t];
    char name[kListValueCapacity];
    for (int i = 0; i < counts[0] && ListedNameAt(ini, "PRINTPROC", i, name); ++i) {
      char key[16];
      FormatText(key, sizeof key, "%d", i);
      CheckPayload(folder, tag, name, "PRINTPROC", key, 1, t == 0);
    }
    if (counts[1] > 0 && src[0])
      CheckPayload(folder, tag, src, "KVSPLPROC", "SRC", 0, t == 0);
    for (int i = 0; i < counts[2] && ListedNameAt(ini, "SrcFiles", i, name); ++i) {
      char key[16];
      FormatText(key, sizeof key, "%d", i);
      CheckPayload(folder, tag, name, "SrcFiles", key, 0, t == 0);
    }
  }
  CheckCompanion(folder);
  return CheckExitCode();
}
