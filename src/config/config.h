// The patch configuration file, tolvanix.ini beside the program, read only through
// GetPrivateProfileStringA and never written.
#pragma once

static const int kConfigPathCapacity = 260;
static const int kListValueCapacity = 260;

// Composes "<program directory>\tolvanix.ini" into path (260 characters). Returns 1, or 0 when
// it does not fit; path is then empty and every read gives its default.
int GetPatchConfigPath(char *path);

// Reads one value into buffer (capacity characters) and returns buffer. A missing file, section
// or key gives the default; a key present with an empty value gives the empty text.
char *ReadPatchConfigValue(const char *section, const char *key, const char *defaultText,
                           char *buffer, int capacity);

// As ReadPatchConfigValue, from the configuration file at path.
char *ReadConfigValueAt(const char *path, const char *section, const char *key,
                        const char *defaultText, char *buffer, int capacity);

// Reads key index of a numbered list into value (kListValueCapacity characters), from the file
// at path or, for a null path, from the program's own file. Returns 0 when the value is empty,
// which ends the list.
int ListedNameAt(const char *path, const char *section, int index, char *value);

typedef void (*ListAction)(const char *name, void *context);

// Walks the keys "0", "1", ... of section in number order, up to the first empty value or the
// limit, handing each value to action before the next key is read.
void ForEachListedName(const char *section, int limit, ListAction action, void *context);
