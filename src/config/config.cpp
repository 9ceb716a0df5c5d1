#include "config/config.h"

#include "common/common.h"
#include "platform/platform.h"
#include "platform/text.h"

const PatchList kPatchLists[kPatchListCount] = {
    {"PRINTPROC", 50, 1, 0, nullptr, nullptr},
    {"KVSPLPROC", 200, 0, 1, "SRC", "KVHLP00E.EXE"},
    {"SrcFiles", 200, 0, 1, nullptr, nullptr},
};

int GetPatchConfigPath(Path &path) {
  // Without the program's folder no configuration is read: "\tolvanix.ini" would be a file at
  // the root of whatever drive is current.
  if (!GetProgramDirectory(path) || path[0] == 0 ||
      !AppendPath(path, kConfigPathCapacity, "tolvanix.ini")) {
    path[0] = 0;
    return 0;
  }
  return 1;
}

char *ReadPatchConfigValue(const char *section, const char *key, const char *defaultText,
                           char *buffer, int capacity) {
  Path path;
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

int ListedNameAt(const char *path, const char *section, int index, Path &value) {
  char key[16];
  FormatText(key, sizeof key, "%d", index);
  if (path)
    ReadConfigValueAt(path, section, key, "", value, kListValueCapacity);
  else
    ReadPatchConfigValue(section, key, "", value, kListValueCapacity);
  return value[0] != 0;
}

int ReadSharedSource(const char *path, const PatchList &list, Path &source) {
  source[0] = 0;
  if (!list.sourceKey)
    return 0;
  if (path)
    ReadConfigValueAt(path, list.section, list.sourceKey, list.sourceDefault, source, MAX_PATH);
  else
    ReadPatchConfigValue(list.section, list.sourceKey, list.sourceDefault, source, MAX_PATH);
  return 1;
}

void ForEachListedName(const char *section, int limit, ListAction action, void *context) {
  for (int index = 0; index < limit; ++index) {
    Path value;
    if (!ListedNameAt(nullptr, section, index, value))
      return;
    action(value, context);
  }
}
