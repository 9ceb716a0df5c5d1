// The error log where a run cannot take it: no temp folder, a file already under its name, the
// log held open by someone else.
#include <string>

#include "report/report.h"
#include "testing.h"

namespace {

TEST(ErrorLog, AFileMadeUnderTheNameMeanwhileIsAppendedToNotReplaced) {
  CapturedErrorLog log;
  WriteFileBytes(log.name(), "other program\r\n");
  AppendErrorLog("ours \r\n");
  EXPECT_EQ(log.Text(), "other program\r\nours \r\n");
}

TEST(ErrorLog, AMessageThatMeetsTheLogHeldOpenIsLostAndTheNextOneIsKept) {
  CapturedErrorLog log;
  AppendErrorLog("one \r\n");
  HANDLE held = CreateFileA(log.name().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(AppendErrorLog("lost \r\n"), 1);
  CloseHandle(held);
  AppendErrorLog("three \r\n");
  EXPECT_EQ(log.Text(), "one \r\nthree \r\n");
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
