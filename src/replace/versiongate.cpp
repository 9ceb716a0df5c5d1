// The version gate: a listed file is replaced only when the package copy is newer, by its
// FileVersion first and, when those read as equal, by its last-write time.
#include "platform/platform.h"
#include "platform/text.h"
#include "replace/replace.h"

GateDecision DecideSplFile(const char *expanded, const char *target, int forced,
                           GateReading *reading) {
  GateReading local;
  GateReading &r = reading ? *reading : local;
  FillBytes(&r, sizeof r, 0);
  if (forced) {
    r.forced = 1;
    return kGateReplace;
  }
  // A package file that could not be expanded reads as no version and time 0.
  if (expanded[0])
    r.packageNumber =
        ParseVersionString(GetFileVersionString(expanded, r.packageVersion, MAX_PATH));
  r.installedNumber =
      ParseVersionString(GetFileVersionString(target, r.installedVersion, MAX_PATH));
  if (r.installedNumber > r.packageNumber)
    return kGateRefuseVersion;
  if (r.installedNumber < r.packageNumber)
    return kGateReplace;
  r.timesCompared = 1;
  r.packageTime = expanded[0] ? GetLastWriteTime(expanded) : 0;
  r.installedTime = GetLastWriteTime(target);
  return r.packageTime > r.installedTime ? kGateReplace : kGateRefuseTime;
}

char *GetFileVersionString(const char *fileName, char *buffer, int capacity) {
  buffer[0] = 0;
  DWORD unused = 0;
  DWORD size = Os.GetFileVersionInfoSizeA(fileName, &unused);
  if (size == 0)
    return buffer;
  void *block = Os.LocalAlloc(LPTR, size);
  if (!block)
    return buffer;
  if (Os.GetFileVersionInfoA(fileName, 0, size, block)) {
    char *value = nullptr;
    UINT length = 0;
    if (Os.VerQueryValueA(block, "\\StringFileInfo\\040904b0\\FileVersion",
                          reinterpret_cast<void **>(&value), &length) ||
        Os.VerQueryValueA(block, "\\StringFileInfo\\041104b0\\FileVersion",
                          reinterpret_cast<void **>(&value), &length)) {
      // A value too long for the buffer reads as no version at all: a cut one would parse
      // as a different number.
      if (!value || !CopyText(buffer, capacity, value))
        buffer[0] = 0;
    }
  }
  Os.LocalFree(block);
  return buffer;
}

long long ParseVersionString(const char *text) {
  int position = lstrlenA(text);
  if (position == 0)
    return 0;
  char last = text[position - 1];
  if ((last >= 'A' && last <= 'Z') || (last >= 'a' && last <= 'z'))
    --position;

  unsigned long long result = 0;
  for (int field = 0; field < 4; ++field) {
    DWORD number = 0;
    DWORD weight = 1;
    // Digits are read as hexadecimal ones, rightmost first; the character that ends a number
    // is used up with it, so two separators in a row hold an empty number between them.
    while (position > 0) {
      char c = text[--position];
      if (c < '0' || c > '9')
        break;
      number += static_cast<DWORD>(c - '0') * weight;
      weight *= 16;
    }
    result += static_cast<unsigned long long>(number) << (16 * field);
  }
  return static_cast<long long>(result);
}

long long GetLastWriteTime(const char *fileName) {
  HANDLE file = Os.CreateFileA(fileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  FILETIME written;
  written.dwLowDateTime = 0;
  written.dwHighDateTime = 0;
  Os.GetFileTime(file, nullptr, nullptr, &written);
  Os.CloseHandle(file);
  return static_cast<long long>((static_cast<unsigned long long>(written.dwHighDateTime) << 32) |
                                written.dwLowDateTime);
}
