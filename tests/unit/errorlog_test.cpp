// The error log where a run cannot take it: no temp folder, a file already under its name, the
// log held open by someone else.
#include <string>

#include "report/report.h"
#include "testing.h"

namespace {

// The log's name is in a folder other programs write to: a file found at it is left alone, and
// the log that this run made can be read but not written, renamed or deleted by them.
TEST(ErrorLog, ANameTakenMeanwhileIsLeftAloneAndTheLogIsTheRunsOwn) {
  CapturedErrorLog log;
  std::string planted = log.name();
  WriteFileBytes(planted, "other program\r\n");
  AppendErrorLog("ours \r\n");
  EXPECT_EQ(ReadFileBytes(planted), "other program\r\n");
  ASSERT_NE(log.name(), planted);
  EXPECT_EQ(log.Text(), "ours \r\n");

  std::string name = log.name();
  HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "another program opened the log for writing";
  if (writer != INVALID_HANDLE_VALUE)
    CloseHandle(writer);
  EXPECT_FALSE(DeleteFileA(name.c_str()));
  EXPECT_FALSE(MoveFileA(name.c_str(), (name + ".moved").c_str()));
  AppendErrorLog("two \r\n");
  EXPECT_EQ(log.Text(), "ours \r\ntwo \r\n");
  DeleteFileA(planted.c_str());
}

DWORD WINAPI NoTempPath(DWORD, LPSTR buffer) {
  buffer[0] = 0;
  return 0;
}

TEST(ErrorLog, WithoutATempFolderTheNameIsEmptyAndAppendsDoNothing) {
  ScopedOverride<decltype(Os.GetTempPathA)> fake(Os.GetTempPathA, NoTempPath);
  ErrorLogEnabled = 1;
  EXPECT_STREQ(MakeErrorLogName(), "");
  EXPECT_EQ(AppendErrorLog("nowhere \r\n"), 1);
  ErrorLogEnabled = 0;
}

} // namespace
