#include "platform/text.h"

#include <stdarg.h>

// wvsprintfA writes at most 1,024 characters with its terminator into the buffer it is given.
static const int kFormatScratch = 1025;

// Formats into scratch (kFormatScratch characters). Returns the length, or -1 when the result
// may have been cut at wvsprintfA's own limit.
static int FormatScratch(char *scratch, const char *format, va_list args) {
  int length = wvsprintfA(scratch, format, args);
  return length < 0 || length >= kFormatScratch - 1 ? -1 : length;
}

int FormatText(char *buf, int cap, const char *format, ...) {
  if (cap <= 0)
    return -1;
  char scratch[kFormatScratch];
  va_list args;
  va_start(args, format);
  int length = FormatScratch(scratch, format, args);
  va_end(args);
  if (length < 0 || length >= cap) {
    buf[0] = 0;
    return -1;
  }
  for (int i = 0; i <= length; ++i)
    buf[i] = scratch[i];
  return length;
}

int FormatDisplayText(char *buf, int cap, const char *format, ...) {
  if (cap <= 0)
    return -1;
  char scratch[kFormatScratch];
  va_list args;
  va_start(args, format);
  int length = wvsprintfA(scratch, format, args);
  va_end(args);
  // Whatever wvsprintfA wrote within its limit is shown, clipped to the buffer.
  if (length < 0)
    length = 0;
  if (length > kFormatScratch - 1)
    length = kFormatScratch - 1;
  if (length > cap - 1)
    length = cap - 1;
  for (int i = 0; i < length; ++i)
    buf[i] = scratch[i];
  buf[length] = 0;
  return length;
}

int CopyText(char *buf, int cap, const char *src) {
  if (cap <= 0)
    return 0;
  int length = lstrlenA(src);
  if (length >= cap) {
    buf[0] = 0;
    return 0;
  }
  for (int i = 0; i <= length; ++i)
    buf[i] = src[i];
  return 1;
}

int AppendPath(char *buf, int cap, const char *name) {
  int have = lstrlenA(buf);
  int add = lstrlenA(name);
  if (have + 1 + add >= cap)
    return 0;
  buf[have] = '\\';
  for (int i = 0; i <= add; ++i)
    buf[have + 1 + i] = name[i];
  return 1;
}

void FillBytes(void *p, unsigned n, unsigned char value) {
  volatile unsigned char *bytes = static_cast<unsigned char *>(p);
  while (n--)
    *bytes++ = value;
}

int GetParentFolder(const char *path, char (&folder)[MAX_PATH]) {
  if (!CopyText(folder, MAX_PATH, path))
    return 0;
  int cut = -1;
  for (int i = 0; folder[i]; ++i)
    if (folder[i] == '\\')
      cut = i;
  if (cut < 0) {
    folder[0] = 0;
    return 0;
  }
  // With its backslash: "C:\" stays a root, not the current folder of drive C:.
  folder[cut + 1] = 0;
  return 1;
}

// The first n letters of text are word's, in any case (word in capitals).
static int SameLetters(const char *text, const char *word, int n) {
  for (int i = 0; i < n; ++i) {
    char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
    if (c != word[i])
      return 0;
  }
  return 1;
}

int IsPlainFileName(const char *name) {
  if (!name[0] || lstrcmpA(name, ".") == 0 || lstrcmpA(name, "..") == 0)
    return 0;
  for (const char *p = name; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':' || *p == '*' || *p == '?')
      return 0;
  // The device is the part before the first dot, trailing blanks dropped ("NUL .txt" is NUL).
  int n = 0;
  while (name[n] && name[n] != '.')
    ++n;
  while (n > 0 && name[n - 1] == ' ')
    --n;
  static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char *device : kDevices)
    if (n == 3 && SameLetters(name, device, 3))
      return 0;
  return !(n == 4 && name[3] >= '1' && name[3] <= '9' &&
           (SameLetters(name, "COM", 3) || SameLetters(name, "LPT", 3)));
}
