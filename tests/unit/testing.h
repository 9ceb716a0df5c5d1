// What the unit tests share: the programs' headers, real files in fresh folders, and the seam.
#pragma once

#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "app/app.h"
#include "check/check.h"
#include "platform/platform.h"
#include "replace/replace.h"
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
inline std::string ReadFileBytes(const std::string &path) { // "" for a file that cannot be read
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// What the fakes answer: the program's name ("" fails the call), and the Windows version
// (platform, major, minor) SetOs names: '9' 98, '4' NT 4.0, '2' 2000, 'x' XP, '7' 7.
inline std::string g_program;
inline DWORD g_os[3];
inline DWORD WINAPI FakeModuleName(HMODULE, LPSTR name, DWORD size) {
  return lstrlenA(lstrcpynA(name, g_program.c_str(), size));
}
inline BOOL WINAPI FakeVersion(LPOSVERSIONINFOA v) {
  return g_os[0] && (v->dwPlatformId = g_os[0], v->dwMajorVersion = g_os[1],
                     v->dwMinorVersion = g_os[2], true);
}
inline void SetOs(char os) {
  static const DWORD kVersions[][3] = {{1, 4, 10}, {2, 4, 0}, {2, 5, 0}, {2, 5, 1}, {2, 6, 1}};
  memcpy(g_os, kVersions[std::string("942x7").find(os)], sizeof g_os);
}

// The error log of the code under test, on for the length of the scope.
struct Log {
  const char *name = (ErrorLogEnabled = 1, MakeErrorLogName());
  ~Log() { DeleteErrorLog(), ErrorLogEnabled = 0; }
  std::string Text() const { return ReadFileBytes(name); }
};
