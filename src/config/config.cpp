#include "config/config.h"

#include "app/app.h"
#include "platform/platform.h"
#include "platform/text.h"

int GetPatchConfigPath(char *path) {
  // Without the program's folder no configuration is read: "\tolvanix.ini" would be a file at
  // the root of whatever drive is current.
  if (!GetProgramDirectory(kConfigPathCapacity, path) || path[0] == 0 ||
      !AppendPath(path, kConfigPathCapacity, "tolvanix.ini")) {
    path[0] = 0;
    return 0;
  }
  return 1;
}

char *ReadPatchConfigValue(const char *section, const char *key, const char *defaultText,
                           char *buffer, int capacity) {
  char path[kConfigPathCapacity];
  if (!GetPatchConfigPath(path)) {
    // No shorter path is tried in its place: it could name another file.
    if (!CopyText(buffer, capacity, defaultText))
      buffer[0] = 0;
    return buffer;
  }
  return ReadConfigValueAt(path, section, key, defaultText, buffer, capacity);
}

char *ReadConfigValueAt(const char *path, const char *section, const char *key,
                        const char *defaultText, char *buffer, int capacity) {
  Os.GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(capacity),
                              path);
  return buffer;
}

int ListedNameAt(const char *path, const char *section, int index, char *value) {
  char key[16];
  FormatText(key, sizeof key, "%d", index);
  if (path)
    ReadConfigValueAt(path, section, key, "", value, kListValueCapacity);
  else
    ReadPatchConfigValue(section, key, "", value, kListValueCapacity);
  return value[0] != 0;
}

void ForEachListedName(const char *section, int limit, ListAction action, void *context) {
  for (int index = 0; index < limit; ++index) {
    char value[kListValueCapacity];
    if (!ListedNameAt(nullptr, section, index, value))
      return;
    action(value, context);
  }
}
