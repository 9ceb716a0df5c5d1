// The restart operations that wait in PendingFileRenameOperations: left by an earlier run, by
// another installer, or by this run. Windows carries them out in order at the restart, after
// everything this run did at once, so they decide which file stands at a target in the end.
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"

namespace {

const char kValue[] = "PendingFileRenameOperations";

// The next pair of names: the file, then its new name or the empty text for a deletion. An
// empty first name is the list's end. Returns 0 there.
int NextOperation(const PendingOperations &pending, const char **at, const char **from,
                  const char **to) {
  const char *end = pending.text + pending.size;
  const char *p = *at;
  if (!pending.text || p >= end || !*p)
    return 0;
  *from = p;
  p += lstrlenA(p) + 1;
  *to = p < end ? p : "";
  if (p < end)
    p += lstrlenA(p) + 1;
  *at = p;
  return 1;
}

int IsThere(const char *name) { return Os.GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

// name with the component of each existing folder and file taken by its long name, as a
// short (8.3) name found there would be. Returns 0 when it does not fit. Only names on a
// drive are walked: a wildcard would match another file, and what is not there stays as it is.
int TakeLongName(const char *name, Path &out) {
  if (!(name[0] && name[1] == ':' && name[2] == '\\'))
    return CopyText(out, MAX_PATH, name);
  for (const char *c = name; *c; ++c)
    if (*c == '*' || *c == '?')
      return CopyText(out, MAX_PATH, name);
  CopyText(out, MAX_PATH, "?:\\");
  out[0] = name[0];
  int length = 3;
  for (const char *p = name + 3; *p;) {
    const char *end = p;
    while (*end && *end != '\\')
      ++end;
    int n = static_cast<int>(end - p);
    if (length + n + 1 >= MAX_PATH)
      return 0;
    for (int i = 0; i < n; ++i)
      out[length + i] = p[i];
    out[length + n] = 0;
    WIN32_FIND_DATAA found;
    found.cFileName[0] = 0;
    HANDLE search = n ? Os.FindFirstFileA(out, &found) : INVALID_HANDLE_VALUE;
    if (search != INVALID_HANDLE_VALUE) {
      Os.FindClose(search);
      if (found.cFileName[0] && !CopyText(out + length, MAX_PATH - length, found.cFileName))
        return 0;
    }
    length = lstrlenA(out);
    if (*end == '\\') {
      if (length + 1 >= MAX_PATH)
        return 0;
      out[length++] = '\\';
      out[length] = 0;
      ++end;
    }
    p = end;
  }
  return 1;
}

} // namespace

const char *PlainName(const char *name) {
  if (name[0] == '!')
    ++name;
  if (name[0] == '\\' && name[1] == '?' && name[2] == '?' && name[3] == '\\')
    name += 4;
  return name;
}

int SameFileName(const char *a, const char *b) {
  a = PlainName(a);
  b = PlainName(b);
  if (lstrcmpiA(a, b) == 0)
    return 1;
  Path longA;
  Path longB;
  return TakeLongName(a, longA) && TakeLongName(b, longB) && lstrcmpiA(longA, longB) == 0;
}

int LoadPendingOperations(PendingOperations *pending) {
  pending->text = nullptr;
  pending->size = 0;
  HKEY key = nullptr;
  LONG opened =
      Os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                       KEY_QUERY_VALUE, &key);
  if (opened != ERROR_SUCCESS)
    return 0;
  DWORD type = 0;
  DWORD size = 0;
  LONG asked = Os.RegQueryValueExA(key, kValue, nullptr, &type, nullptr, &size);
  if (asked == ERROR_FILE_NOT_FOUND) {
    Os.RegCloseKey(key);
    return 1; // nothing pending
  }
  // Room for two more terminators, so that a value stored without them still ends.
  pending->text =
      asked == ERROR_SUCCESS ? static_cast<char *>(Os.LocalAlloc(LPTR, size + 2)) : nullptr;
  if (!pending->text ||
      Os.RegQueryValueExA(key, kValue, nullptr, &type, reinterpret_cast<BYTE *>(pending->text),
                          &size) != ERROR_SUCCESS) {
    FreePendingOperations(pending);
    Os.RegCloseKey(key);
    return 0;
  }
  pending->size = size;
  Os.RegCloseKey(key);
  return 1;
}

void FreePendingOperations(PendingOperations *pending) {
  if (pending->text)
    Os.LocalFree(pending->text);
  pending->text = nullptr;
  pending->size = 0;
}

int ForEachPendingOperation(const PendingOperations &pending, const char *target,
                            PendingAction action, void *context) {
  int count = 0;
  const char *at = pending.text;
  const char *from;
  const char *to;
  while (NextOperation(pending, &at, &from, &to)) {
    if (SameFileName(from, target) || (to[0] && SameFileName(to, target))) {
      action(PlainName(from), PlainName(to), context);
      ++count;
    }
  }
  return count;
}

int FindStandingFile(const PendingOperations &pending, const char *target,
                     char (&standing)[MAX_PATH]) {
  if (!IsThere(target) || !CopyText(standing, MAX_PATH, target))
    standing[0] = 0;
  int count = 0;
  const char *at = pending.text;
  const char *from;
  const char *to;
  while (NextOperation(pending, &at, &from, &to)) {
    int away = SameFileName(from, target);
    int onto = to[0] && SameFileName(to, target);
    count += away || onto;
    if (away && !onto) {
      standing[0] = 0; // deleted, or moved elsewhere
    } else if (onto && !away) {
      // Without "!" a move onto a name that still holds a file fails at the restart, and a
      // move of a file that is gone fails too: what stood stays.
      const char *file = PlainName(from);
      if ((!standing[0] || to[0] == '!') && IsThere(file) && lstrlenA(file) < MAX_PATH)
        CopyText(standing, MAX_PATH, file);
    }
  }
  return count;
}
