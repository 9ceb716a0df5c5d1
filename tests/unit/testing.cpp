#include "testing.h"

#include <vector>

#include "report/report.h"

static void RemoveTree(const std::string &path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..")
        continue;
      std::string child = path + "\\" + name;
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        DeleteFileA(child.c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

TempFolder::TempFolder() {
  char name[MAX_PATH];
  GetTempFileNameA(TempPath().c_str(), "tvt", 0, name);
  DeleteFileA(name);
  CreateDirectoryA(name, nullptr);
  path_ = name;
}

TempFolder::~TempFolder() { RemoveTree(path_); }

static std::string g_programPath;

static DWORD WINAPI FakeModuleFileName(HMODULE, LPSTR buffer, DWORD size) {
  DWORD n = static_cast<DWORD>(g_programPath.size());
  DWORD copied = n < size ? n : size;
  for (DWORD i = 0; i < copied; ++i)
    buffer[i] = g_programPath[i];
  if (copied < size)
    buffer[copied] = 0;
  return copied;
}

ScopedProgramPath::ScopedProgramPath(const std::string &programPath)
    : saved_(Os.GetModuleFileNameA) {
  g_programPath = programPath;
  Os.GetModuleFileNameA = FakeModuleFileName;
}

ScopedProgramPath::~ScopedProgramPath() { Os.GetModuleFileNameA = saved_; }

CapturedErrorLog::CapturedErrorLog() {
  ErrorLogEnabled = 1;
  name_ = MakeErrorLogName();
}

CapturedErrorLog::~CapturedErrorLog() {
  DeleteErrorLog();
  ErrorLogEnabled = 0;
}

std::string CapturedErrorLog::Text() const { return ReadFileBytes(name_); }

void WriteFileBytes(const std::string &path, const std::string &bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << path << ", error " << GetLastError();
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ReadFileBytes(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::string();
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
    bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

bool FileExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::string &path) { CreateDirectoryA(path.c_str(), nullptr); }

std::string TestFile(const std::string &name) {
  char program[MAX_PATH];
  std::string path(program, GetModuleFileNameA(nullptr, program, MAX_PATH));
  return path.substr(0, path.find_last_of('\\')) + "\\testfiles\\" + name;
}

std::vector<std::string> ListFiles(const std::string &folder, const std::string &pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::string TempPath() {
  char name[MAX_PATH];
  GetTempPathA(MAX_PATH, name);
  return name;
}
