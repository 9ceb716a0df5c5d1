// Records for a person or, with --json, for a build pipeline: one JSON object per line.
#include "check/check.h"
#include "platform/platform.h"
#include "platform/text.h"

CheckState Check;
CheckPlatformOps CheckOs;

void BindCheckPlatform() {
  CheckOs.GetStdHandle = GetStdHandle;
  CheckOs.GetFullPathNameA = GetFullPathNameA;
  HMODULE advapi = LoadSystemLibrary("advapi32.dll");
  CheckOs.FindNextFileA = FindNextFileA;
  CheckOs.GetDriveTypeA = GetDriveTypeA;
  CheckOs.GetVolumeInformationA = GetVolumeInformationA;
  Bind(CheckOs.GetFileSecurityA, advapi, "GetFileSecurityA", &Unavailable);
  Bind(CheckOs.GetSecurityDescriptorOwner, advapi, "GetSecurityDescriptorOwner", &Unavailable);
  Bind(CheckOs.GetSecurityDescriptorDacl, advapi, "GetSecurityDescriptorDacl", &Unavailable);
  Bind(CheckOs.GetAce, advapi, "GetAce", &Unavailable);
  Bind(CheckOs.GetTokenInformation, advapi, "GetTokenInformation", &Unavailable);
}

namespace {

// Appends text to the record; on overflow marks it instead of cutting it.
void Append(CheckRecord *record, const char *text) {
  int add = lstrlenA(text);
  if (record->overflow || record->length + add >= kRecordCapacity) {
    record->overflow = 1;
    return;
  }
  for (int i = 0; i <= add; ++i)
    record->text[record->length + i] = text[i];
  record->length += add;
}

void Write(const char *text, int length) {
  if (!Check.output || Check.output == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  DWORD mode = 0;
  // A console shows bytes in its own (OEM) code page, while names are ANSI text of the system's
  // code page: a console gets the text as UTF-16. Redirected output stays ANSI bytes, as the
  // names are in tolvanix.ini. Windows 95 exports WriteConsoleW without doing it: bytes then.
  if (length < kRecordCapacity && GetConsoleMode(Check.output, &mode)) {
    WCHAR wide[kRecordCapacity];
    int count = MultiByteToWideChar(CP_ACP, 0, text, length, wide, kRecordCapacity);
    if (count > 0 &&
        WriteConsoleW(Check.output, wide, static_cast<DWORD>(count), &written, nullptr))
      return;
  }
  Os.WriteFile(Check.output, text, static_cast<DWORD>(length), &written, nullptr);
}

// Appends ,"name":value to a JSON record, value already in its JSON form.
void AppendJsonPair(CheckRecord *record, const char *name, const char *value) {
  char key[64];
  if (JsonQuote(key, sizeof key, name) < 0) {
    record->overflow = 1;
    return;
  }
  Append(record, ",");
  Append(record, key);
  Append(record, ":");
  Append(record, value);
}

} // namespace

void WriteText(const char *text) { Write(text, lstrlenA(text)); }

int JsonQuote(char *buf, int cap, const char *text) {
  // The text is ANSI of the system's code page, which JSON does not know: each character goes
  // out as its Unicode code point, so that a name reads the same to a pipeline on any system.
  WCHAR wide[kRecordCapacity];
  int length = lstrlenA(text);
  int count = 0;
  if (length > 0) {
    count = length < kRecordCapacity
                ? MultiByteToWideChar(CP_ACP, 0, text, length, wide, kRecordCapacity)
                : 0;
    if (count == 0) {
      if (cap > 0)
        buf[0] = 0;
      return -1;
    }
  }
  int n = 0;
  auto put = [&](char c) {
    if (n < cap - 1)
      buf[n] = c;
    ++n;
  };
  static const char kHex[] = "0123456789abcdef";
  put('"');
  for (int i = 0; i < count; ++i) {
    unsigned c = wide[i];
    if (c == '"' || c == '\\') {
      put('\\');
      put(static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7F) {
      put('\\');
      put('u');
      for (int shift = 12; shift >= 0; shift -= 4)
        put(kHex[(c >> shift) & 15]);
    } else {
      put(static_cast<char>(c));
    }
  }
  put('"');
  if (n >= cap) {
    if (cap > 0)
      buf[0] = 0;
    return -1;
  }
  buf[n] = 0;
  return n;
}

void BeginRecord(CheckRecord *record, const char *type, const char *headline) {
  record->length = 0;
  record->overflow = 0;
  record->text[0] = 0;
  if (!Check.json) {
    Append(record, headline);
    Append(record, "\r\n");
    return;
  }
  char quoted[64];
  if (JsonQuote(quoted, sizeof quoted, type) < 0)
    record->overflow = 1;
  Append(record, "{\"type\":");
  Append(record, quoted);
}

void AddJsonField(CheckRecord *record, const char *name, const char *value) {
  if (!Check.json)
    return;
  char quoted[kRecordCapacity];
  if (JsonQuote(quoted, kRecordCapacity, value) < 0) {
    record->overflow = 1;
    return;
  }
  AppendJsonPair(record, name, quoted);
}

void AddJsonNumber(CheckRecord *record, const char *name, long long value) {
  if (!Check.json)
    return;
  // wsprintfA has no 64-bit decimal; the values given here are small counts and codes.
  char text[32];
  FormatText(text, sizeof text, "%ld", static_cast<long>(value));
  AppendJsonPair(record, name, text);
}

void AddTextField(CheckRecord *record, const char *label, const char *value) {
  if (Check.json)
    return;
  Append(record, "  ");
  Append(record, label);
  Append(record, ": ");
  Append(record, value);
  Append(record, "\r\n");
}

void AddField(CheckRecord *record, const char *name, const char *value) {
  AddJsonField(record, name, value);
  AddTextField(record, name, value);
}

void EmitRecord(CheckRecord *record) {
  if (Check.json)
    Append(record, "}\r\n");
  if (record->overflow) {
    ReportFinding(kError, "", "", "", "a record of this run is too long to be written");
    return;
  }
  Write(record->text, record->length);
}

void ReportFinding(FindingLevel level, const char *file, const char *section, const char *key,
                   const char *message) {
  const char *word = level == kError ? "error" : "warning";
  if (level == kError)
    ++Check.errors;
  else
    ++Check.warnings;
  CheckRecord record;
  record.length = 0;
  record.overflow = 0;
  if (Check.json) {
    Append(&record, "{\"type\":\"finding\"");
    const char *names[] = {"level", "file", "section", "key", "message"};
    const char *values[] = {word, file, section, key, message};
    for (int i = 0; i < 5; ++i) {
      char quoted[kRecordCapacity];
      if (JsonQuote(quoted, kRecordCapacity, values[i]) < 0)
        record.overflow = 1;
      else
        AppendJsonPair(&record, names[i], quoted);
    }
    Append(&record, "}\r\n");
  } else {
    // One line: level, file, [section] key, message.
    Append(&record, word);
    Append(&record, ":");
    if (file[0]) {
      Append(&record, " ");
      Append(&record, file);
    }
    if (section[0]) {
      Append(&record, " [");
      Append(&record, section);
      Append(&record, "]");
    }
    if (key[0]) {
      Append(&record, " ");
      Append(&record, key);
    }
    Append(&record, ": ");
    Append(&record, message);
    Append(&record, "\r\n");
  }
  if (record.overflow) {
    // Only the message can be that long; the finding still counts and says so.
    static const char kCut[] = "a finding of this run is too long to be written\r\n";
    Write(kCut, lstrlenA(kCut));
    return;
  }
  Write(record.text, record.length);
}

int CheckExitCode() {
  if (Check.errors)
    return 2;
  return Check.warnings ? 1 : 0;
}

char *FormatNumber(long long value, NumberText &buf) {
  unsigned long long bits = static_cast<unsigned long long>(value);
  FormatText(buf, sizeof buf, "0x%08lX%08lX", static_cast<unsigned long>(bits >> 32),
             static_cast<unsigned long>(bits & 0xFFFFFFFFu));
  return buf;
}

char *DescribeNumber(long long number, char *buf, int cap) {
  // Each field holds the number's digits as hexadecimal ones, so printed in hexadecimal it
  // shows the digits the gate took.
  unsigned long long bits = static_cast<unsigned long long>(number);
  FormatText(buf, cap, "%lx.%lx.%lx.%lx", static_cast<unsigned long>((bits >> 48) & 0xFFFF),
             static_cast<unsigned long>((bits >> 32) & 0xFFFF),
             static_cast<unsigned long>((bits >> 16) & 0xFFFF),
             static_cast<unsigned long>(bits & 0xFFFF));
  return buf;
}

char *DescribeVersion(const char *text, long long number, char *buf, int cap) {
  char reading[64];
  DescribeNumber(number, reading, sizeof reading);
  int fits;
  if (!text[0])
    fits = CopyText(buf, cap, "none (the gate reads version 0)") ? 0 : -1;
  else if (number < 0)
    fits = FormatText(buf, cap,
                      "%s (a first number of 8000 or more: the gate reads it as below "
                      "every version)",
                      text);
  else if (lstrcmpA(text, reading) != 0)
    fits = FormatText(buf, cap, "%s (the gate reads it as %s)", text, reading);
  else
    fits = CopyText(buf, cap, text) ? 0 : -1;
  if (fits < 0)
    CopyText(buf, cap, text);
  return buf;
}

char *FormatTime(long long time, char *buf, int cap) {
  if (time == 0) {
    CopyText(buf, cap, "0");
    return buf;
  }
  FILETIME file;
  file.dwLowDateTime = static_cast<DWORD>(static_cast<unsigned long long>(time) & 0xFFFFFFFFu);
  file.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(time) >> 32);
  SYSTEMTIME parts;
  FillBytes(&parts, sizeof parts, 0);
  Os.FileTimeToSystemTime(&file, &parts);
  FormatText(buf, cap, "%04d-%02d-%02d %02d:%02d:%02d UTC", parts.wYear, parts.wMonth, parts.wDay,
             parts.wHour, parts.wMinute, parts.wSecond);
  return buf;
}
