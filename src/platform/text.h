// Bounded text helpers over wvsprintfA and the lstr functions. A text that does not fit its
// buffer is never cut to a shorter one (a cut path can name another file): the buffer is left
// empty and the caller is told.
#pragma once

#include <windows.h>

// Formats into buf of cap characters (terminator included). Returns the length, or -1 when
// the result would not fit; buf then holds the empty text.
int FormatText(char *buf, int cap, const char *format, ...);

// As FormatText, for texts only shown to a person (a caption): an overlong result is clipped
// to cap - 1 characters instead of refused. Returns the length written.
int FormatDisplayText(char *buf, int cap, const char *format, ...);

// Copies src into buf. Returns 1, or 0 when it does not fit (buf then empty).
int CopyText(char *buf, int cap, const char *src);

// Appends a backslash and name to the path in buf. Returns 1, or 0 when the result would not
// fit; buf is then unchanged.
int AppendPath(char *buf, int cap, const char *name);

// The folder of path, with its trailing backslash. Returns 0 (folder empty) when path names
// none.
int GetParentFolder(const char *path, char (&folder)[MAX_PATH]);

// Whether name is a plain file name that, joined to a folder, names a file in that folder and
// nothing else: no separator, drive, stream or wildcard, not "." or "..", not empty, and no
// device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, in any case, with or without an
// extension), which Windows opens as the device in every folder.
int IsPlainFileName(const char *name);

// Fills n bytes at p with value; the product links no C runtime, so no memset to lean on here.
void FillBytes(void *p, unsigned n, unsigned char value);
