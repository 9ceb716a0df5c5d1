// Bounded formatting: a text that does not fit is refused, never cut and never overrun.
#include <string>

#include "platform/text.h"
#include "testing.h"

namespace {

TEST(Text, FormatRefusesWhatDoesNotFitAndNeverWritesPastTheBuffer) {
  char buffer[12];
  FillMemory(buffer, sizeof buffer, '#');
  EXPECT_EQ(FormatText(buffer, 8, "%s-%d", "ab", 42), 5);
  EXPECT_STREQ(buffer, "ab-42");
  EXPECT_EQ(FormatText(buffer, 8, "%s", "1234567"), 7);
  EXPECT_EQ(FormatText(buffer, 8, "%s", "12345678"), -1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(buffer[8], '#') << "wrote past the capacity";
  std::string huge(2000, 'h');
  EXPECT_EQ(FormatText(buffer, 8, "%s", huge.c_str()), -1);
}

TEST(Text, DisplayTextIsClippedToTheBuffer) {
  char buffer[12];
  FillMemory(buffer, sizeof buffer, '#');
  EXPECT_EQ(FormatDisplayText(buffer, 8, "%s PrintProcessor patch", "Acme"), 7);
  EXPECT_STREQ(buffer, "Acme Pr");
  EXPECT_EQ(buffer[8], '#');
}

TEST(Text, CopyAndAppendPathRefuseWhatDoesNotFit) {
  char buffer[10] = "C:";
  EXPECT_EQ(AppendPath(buffer, 10, "abcdef"), 1);
  EXPECT_STREQ(buffer, "C:\\abcdef");
  EXPECT_EQ(AppendPath(buffer, 10, "x"), 0);
  EXPECT_STREQ(buffer, "C:\\abcdef") << "a refused append leaves the path as it was";
  EXPECT_EQ(CopyText(buffer, 10, "123456789"), 1);
  EXPECT_EQ(CopyText(buffer, 10, "1234567890"), 0);
  EXPECT_STREQ(buffer, "");
}

} // namespace
