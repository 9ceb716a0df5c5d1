#include "config/config.h"

#include "app/app.h"
#include "platform/platform.h"
#include "platform/text.h"

int GetPatchConfigPath(char *path) {
  GetProgramDirectory(kConfigPathCapacity, path);
  if (!AppendPath(path, kConfigPathCapacity, "tolvanix.ini")) {
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
  Os.GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(capacity),
                              path);
  return buffer;
}

void ForEachListedName(const char *section, int limit, ListAction action, void *context) {
  for (int index = 0; index < limit; ++index) {
    char key[16];
    char value[kListValueCapacity];
    FormatText(key, sizeof key, "%d", index);
    ReadPatchConfigValue(section, key, "", value, kListValueCapacity);
    if (value[0] == 0)
      return;
    action(value, context);
  }
}
