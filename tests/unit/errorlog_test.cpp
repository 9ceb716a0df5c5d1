// The error log: a KPPC file in the temp folder that holds exactly the appended bytes.
#include <string>

#include "report/report.h"
#include "testing.h"

namespace {

TEST(ErrorLog, IsNamedInTheTempFolderWithNoFileLeftUnderTheName) {
  std::string name = MakeErrorLogName();
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.compare(0, TempPath().size(), TempPath()), 0) << name;
  EXPECT_EQ(name.substr(TempPath().size(), 3), "KPP") << name;
  EXPECT_FALSE(FileExists(name)) << name;
}

TEST(ErrorLog, WithLoggingOffAnAppendTouchesNoFile) {
  ErrorLogEnabled = 0;
  std::string name = MakeErrorLogName();
  EXPECT_EQ(AppendErrorLog("dropped \r\n"), 1);
  EXPECT_FALSE(FileExists(name));
}

TEST(ErrorLog, HoldsTheAppendedBytesOneAfterTheOtherAndNothingElse) {
  CapturedErrorLog log;
  EXPECT_FALSE(FileExists(log.name())) << "no file before the first append";
  EXPECT_EQ(AppendErrorLog(""), 1);
  EXPECT_TRUE(FileExists(log.name())) << "an empty append still creates the file";
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(AppendErrorLog("first FALSE \r\n"), 1);
  EXPECT_EQ(AppendErrorLog("no line end"), 1);
  EXPECT_EQ(AppendErrorLog("second FALSE \r\n"), 1);
  EXPECT_EQ(log.Text(), "first FALSE \r\nno line endsecond FALSE \r\n");
}

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
