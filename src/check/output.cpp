// Records for a person or, with --json, for a build pipeline: one JSON object per line.
#include "check/check.h"
#include "platform/platform.h"
#include "platform/text.h"

HANDLE CheckOutput;
int CheckJson;
int CheckErrors;
int CheckWarnings;

namespace {

// Appends text to buf at *length; on overflow marks the record instead of cutting it.
void Append(char *buf, int *length, int *overflow, const char *text) {
  int add = lstrlenA(text);
  if (*overflow || *length + add >= kRecordCapacity) {
    *overflow = 1;
    return;
  }
  for (int i = 0; i <= add; ++i)
    buf[*length + i] = text[i];
  *length += add;
}

// The person's form: the headline, then one indented line "name: value, name: value". The
// section and key are already in the headline.
void AddTextField(CheckRecord *record, const char *name, const char *value) {
  if (!lstrcmpA(name, "section") || !lstrcmpA(name, "key"))
    return;
  Append(record->text, &record->textLength, &record->overflow, record->textFields++ ? ", " : "  ");
  Append(record->text, &record->textLength, &record->overflow, name);
  Append(record->text, &record->textLength, &record->overflow, ": ");
  Append(record->text, &record->textLength, &record->overflow, value);
}

void Write(const char *text, int length) {
  DWORD written = 0;
  if (CheckOutput && CheckOutput != INVALID_HANDLE_VALUE)
    Os.WriteFile(CheckOutput, text, static_cast<DWORD>(length), &written, nullptr);
}

} // namespace

int JsonQuote(char *buf, int cap, const char *text) {
  int n = 0;
  auto put = [&](char c) {
    if (n < cap - 1)
      buf[n] = c;
    ++n;
  };
  put('"');
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    unsigned char c = *p;
    if (c == '"' || c == '\\') {
      put('\\');
      put(static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7F) {
      // Control characters must be escaped; bytes of the ANSI code page above 0x7F are not
      // UTF-8, so they are passed as the code points of the same number rather than as
      // invalid bytes.
      static const char kHex[] = "0123456789abcdef";
      put('\\');
      put('u');
      put('0');
      put('0');
      put(kHex[c >> 4]);
      put(kHex[c & 15]);
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
  record->jsonLength = 0;
  record->textLength = 0;
  record->overflow = 0;
  record->textFields = 0;
  record->json[0] = 0;
  record->text[0] = 0;
  Append(record->json, &record->jsonLength, &record->overflow, "{\"type\":");
  AddField(record, nullptr, type);
  Append(record->text, &record->textLength, &record->overflow, headline);
  Append(record->text, &record->textLength, &record->overflow, "\r\n");
}

// Appends ,"name": to the JSON form. Returns 0 (the record marked overflowing) when the name
// does not fit.
static int AppendJsonName(CheckRecord *record, const char *name) {
  char key[64];
  if (JsonQuote(key, sizeof key, name) < 0) {
    record->overflow = 1;
    return 0;
  }
  Append(record->json, &record->jsonLength, &record->overflow, ",");
  Append(record->json, &record->jsonLength, &record->overflow, key);
  Append(record->json, &record->jsonLength, &record->overflow, ":");
  return 1;
}

void AddField(CheckRecord *record, const char *name, const char *value) {
  char quoted[kRecordCapacity];
  if (JsonQuote(quoted, kRecordCapacity, value) < 0) {
    record->overflow = 1;
    return;
  }
  if (name) {
    if (!AppendJsonName(record, name))
      return;
    AddTextField(record, name, value);
  }
  Append(record->json, &record->jsonLength, &record->overflow, quoted);
}

void AddNumberField(CheckRecord *record, const char *name, long long value) {
  // wsprintfA has no 64-bit decimal; the values given here are small counts and codes.
  char text[32];
  FormatText(text, sizeof text, "%ld", static_cast<long>(value));
  if (!AppendJsonName(record, name))
    return;
  Append(record->json, &record->jsonLength, &record->overflow, text);
  AddTextField(record, name, text);
}

void EmitRecord(CheckRecord *record) {
  if (record->overflow) {
    ReportFinding(kError, "", "", "", "a record of this run is too long to be written");
    return;
  }
  if (CheckJson) {
    Append(record->json, &record->jsonLength, &record->overflow, "}\r\n");
    Write(record->json, record->jsonLength);
  } else {
    if (record->textFields)
      Append(record->text, &record->textLength, &record->overflow, "\r\n");
    Write(record->text, record->textLength);
  }
}

void ReportFinding(FindingLevel level, const char *file, const char *section, const char *key,
                   const char *message) {
  const char *word = level == kError ? "error" : "warning";
  if (level == kError)
    ++CheckErrors;
  else
    ++CheckWarnings;
  CheckRecord record;
  // The person's form is one line: level, file, [section] key, message.
  record.jsonLength = 0;
  record.textLength = 0;
  record.overflow = 0;
  record.textFields = 0;
  Append(record.json, &record.jsonLength, &record.overflow, "{\"type\":\"finding\"");
  Append(record.text, &record.textLength, &record.overflow, word);
  Append(record.text, &record.textLength, &record.overflow, ":");
  const char *names[] = {"level", "file", "section", "key", "message"};
  const char *values[] = {word, file, section, key, message};
  for (int i = 0; i < 5; ++i) {
    char quoted[kRecordCapacity];
    if (JsonQuote(quoted, kRecordCapacity, values[i]) < 0) {
      record.overflow = 1;
      break;
    }
    Append(record.json, &record.jsonLength, &record.overflow, ",\"");
    Append(record.json, &record.jsonLength, &record.overflow, names[i]);
    Append(record.json, &record.jsonLength, &record.overflow, "\":");
    Append(record.json, &record.jsonLength, &record.overflow, quoted);
  }
  if (file[0]) {
    Append(record.text, &record.textLength, &record.overflow, " ");
    Append(record.text, &record.textLength, &record.overflow, file);
  }
  if (section[0]) {
    Append(record.text, &record.textLength, &record.overflow, " [");
    Append(record.text, &record.textLength, &record.overflow, section);
    Append(record.text, &record.textLength, &record.overflow, "]");
  }
  if (key[0]) {
    Append(record.text, &record.textLength, &record.overflow, " ");
    Append(record.text, &record.textLength, &record.overflow, key);
  }
  Append(record.text, &record.textLength, &record.overflow, ": ");
  Append(record.text, &record.textLength, &record.overflow, message);
  Append(record.text, &record.textLength, &record.overflow, "\r\n");
  Append(record.json, &record.jsonLength, &record.overflow, "}\r\n");
  if (record.overflow) {
    // Only the message can be that long; the finding still counts and says so.
    static const char kCut[] = "a finding of this run is too long to be written\r\n";
    Write(kCut, lstrlenA(kCut));
    return;
  }
  if (CheckJson)
    Write(record.json, record.jsonLength);
  else
    Write(record.text, record.textLength);
}

int CheckExitCode() {
  if (CheckErrors)
    return 2;
  return CheckWarnings ? 1 : 0;
}

char *FormatNumber(long long value, char *buf) {
  unsigned long long bits = static_cast<unsigned long long>(value);
  FormatText(buf, 19, "0x%08lX%08lX", static_cast<unsigned long>(bits >> 32),
             static_cast<unsigned long>(bits & 0xFFFFFFFFu));
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
