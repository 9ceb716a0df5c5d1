// What the unit tests share: the programs' headers, real files in fresh folders, and the seam.
#pragma once

#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "app/app.h"
#include "check/check.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"
#include "service/service.h"

// Replaces one entry of the platform table until the end of the scope.
template <typename F> struct Seam {
  F &entry, saved;
  Seam(F &e, F fake) : entry(e), saved(e) { e = fake; }
  ~Seam() { entry = saved; }
};
#define SEAM(call, ...) Seam<decltype(Os.call)> seam_##call(Os.call, __VA_ARGS__)

// Set by main: the temp folder, the run's folder below it, and testfiles\ beside the program.
inline std::string g_temp, g_scratch, g_testfiles;
inline std::string NewFolder() {
  char name[MAX_PATH];
  GetTempFileNameA(g_scratch.c_str(), "t", 0, name);
  return DeleteFileA(name) && CreateDirectoryA(name, nullptr) ? name : "";
}
inline void WriteFileBytes(const std::string &path, const std::string &bytes) {
  EXPECT_TRUE(std::ofstream(path, std::ios::binary) << bytes) << path;
}
// A package's folders below dir (ending in a backslash; made if new), the 64-bit half's too, as
// the 64-bit program refuses one without; and where in it this build loads the companion from.
inline void MakePackageFolders(const std::string &dir) {
  for (const char *folder : {"", "modules", "modules\\NT", "modules\\2K", "modules\\X64"})
    CreateDirectoryA((dir + folder).c_str(), nullptr);
}
inline const std::string kCompanionIn = sizeof(void *) == 8 ? "modules\\X64\\" : "";
inline std::string ReadFileBytes(const std::string &path) { // "" for a file that cannot be read
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

inline std::string g_program; // the program's name as FakeModuleName answers it, "" failing
inline DWORD WINAPI FakeModuleName(HMODULE, LPSTR name, DWORD size) {
  return lstrlenA(lstrcpynA(name, g_program.c_str(), size));
}
// The error log of the code under test, on for the length of the scope.
struct Log {
  const char *name = MakeErrorLogName();
  ~Log() { DeleteErrorLog(); }
  std::string Text() const { return ReadFileBytes(name); }
};
