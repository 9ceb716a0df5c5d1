// Helpers shared by the unit tests: real files in a real temp folder, and the one seam.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/platform.h"

// Replaces one entry of the platform table for the life of the object, then restores it.
template <typename F> class ScopedOverride {
public:
  ScopedOverride(F &entry, F replacement) : entry_(entry), saved_(entry) { entry_ = replacement; }
  ~ScopedOverride() { entry_ = saved_; }
  ScopedOverride(const ScopedOverride &) = delete;
  ScopedOverride &operator=(const ScopedOverride &) = delete;

private:
  F &entry_;
  F saved_;
};

// A fresh folder in the temp folder, removed with everything in it at the end of the test.
class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  const std::string &path() const { return path_; }
  // path() + "\\" + relative
  std::string operator/(const std::string &relative) const { return path_ + "\\" + relative; }

private:
  std::string path_;
};

// Makes the program appear to run as <folder>\<fileName>: GetModuleFileNameA answers that for
// as long as the object lives. Everything that reads the program directory then reads folder.
class ScopedProgramPath {
public:
  explicit ScopedProgramPath(const std::string &programPath);
  ~ScopedProgramPath();
  ScopedProgramPath(const ScopedProgramPath &) = delete;
  ScopedProgramPath &operator=(const ScopedProgramPath &) = delete;

private:
  decltype(PlatformOps::GetModuleFileNameA) saved_;
};

// The error log of the run under test: logging on and a fresh name for the life of the object;
// Text() gives what was appended. Restores logging off and removes the file at the end.
class CapturedErrorLog {
public:
  CapturedErrorLog();
  ~CapturedErrorLog();
  std::string Text() const;
  // The log's name now: it moves off a name that something else took before the first append.
  std::string name() const { return name_; }

private:
  const char *name_;
};

void WriteFileBytes(const std::string &path, const std::string &bytes);
std::string ReadFileBytes(const std::string &path); // empty when missing
bool FileExists(const std::string &path);
void MakeFolder(const std::string &path);
// A file made at build time into testfiles\ beside the running test program.
std::string TestFile(const std::string &name);
// Names of the files in folder matching pattern (for instance "KPPC*.tmp").
std::vector<std::string> ListFiles(const std::string &folder, const std::string &pattern);
std::string TempPath(); // with its trailing backslash
