// The patch configuration file, tolvanix.ini beside the program, read only through
// GetPrivateProfileStringA and never written; and the three lists a patch run walks in it.
#pragma once

#include "common/common.h"

static const int kConfigPathCapacity = MAX_PATH;
static const int kListValueCapacity = MAX_PATH;

// One numbered list of the file, and what a patch run does with its entries. The runs, the
// diagnostic report and tolvanix-check all walk this one table.
struct PatchList {
  const char *section;
  int limit;             // keys "0" to limit - 1 are read
  int printProcessor;    // the target is in spool\prtprocs\w32x86, else in the system folder
  int onlyWhenPresent;   // an entry whose target is not installed is skipped
  const char *sourceKey; // the key naming the one source of every entry, or null: its own name
  const char *sourceDefault;
};
enum PatchListIndex { kPrintProcList, kHelperList, kSystemList, kPatchListCount };
extern const PatchList kPatchLists[kPatchListCount];

// Composes "<program directory>\tolvanix.ini" into path. Returns 1, or 0 when the program
// directory is unknown or the path does not fit; path is then empty and every read gives its
// default.
int GetPatchConfigPath(Path &path);

// Reads one value into buffer (capacity characters) and returns buffer. A missing file, section
// or key gives the default; a key present with an empty value gives the empty text.
char *ReadPatchConfigValue(const char *section, const char *key, const char *defaultText,
                           char *buffer, int capacity);

// As ReadPatchConfigValue, from the configuration file at path.
char *ReadConfigValueAt(const char *path, const char *section, const char *key,
                        const char *defaultText, char *buffer, int capacity);

// Reads key index of a numbered list into value, from the file at path or, for a null path,
// from the program's own file. Returns 0 when the value is empty, which ends the list.
int ListedNameAt(const char *path, const char *section, int index, Path &value);

// The source name of list's entries that share one (the SRC value), from the file at path or,
// for a null path, the program's own. Returns 0, with source empty, for a list without one.
int ReadSharedSource(const char *path, const PatchList &list, Path &source);

typedef void (*ListAction)(const char *name, void *context);

// Walks the keys "0", "1", ... of section in number order, up to the first empty value or the
// limit, handing each value to action before the next key is read.
void ForEachListedName(const char *section, int limit, ListAction action, void *context);
