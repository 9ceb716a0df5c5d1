// The version gate's parts: version strings, version resources (an overlong one included) and
// the write time of a file held open or read-only.
#include <string>

#include "platform/text.h"
#include "replace/replace.h"
#include "testing.h"

namespace {

std::string Fixture(const std::string &name) { return TestFile(name); }

// "\267" is 0xB7, a separator outside ASCII.
TEST(ParseVersionString, GivesTheFileVersionNumber) {
  const struct {
    const char *text;
    unsigned long long number;
  } cases[] = {
      {"1.0.1.1", 0x0001000000010001ull},
      {"1.011", 0x0000000000010011ull},
      {"2.0.0.12a", 0x0002000000000012ull},
      {"", 0},
      {"1, 0, 0, 3", 0x0000000000000003ull},
      {"1.2.3.4.5", 0x0002000300040005ull},
      {"1.0.0.65536", 0x0001000000065536ull},
      {"1.0.6.5536", 0x0001000000065536ull},
      {"8000.0.0.0", 0x8000000000000000ull},
      {"1.2.3.4zz", 0x0002000300040000ull},
      {"1.0.0.3 (b7)", 0x0000000000070000ull},
      {"123456789", 0x0000000023456789ull},
      {"12345678", 0x0000000012345678ull},
      {"99999999.0.0.0", 0x9999000000000000ull},
      {"1..2", 0x0000000100000002ull},
      {"1.2\2673", 0x0000000100020003ull},
      {"Z", 0},
      {"1.0.0.0", 0x0001000000000000ull},
      {"9.9.9.9", 0x0009000900090009ull},
  };
  for (const auto &c : cases) {
    unsigned long long got = static_cast<unsigned long long>(ParseVersionString(c.text));
    EXPECT_EQ(got, c.number) << "\"" << c.text << "\" gave 0x" << std::hex << got;
  }
}

TEST(ParseVersionString, ComparesAsSignedNumbers) {
  // Equal pairs: one trailing letter is dropped; five digits add into the field above.
  EXPECT_EQ(ParseVersionString("2.0.0.12a"), ParseVersionString("2.0.0.12b"));
  EXPECT_EQ(ParseVersionString("1.0.0.65536"), ParseVersionString("1.0.6.5536"));
  EXPECT_GT(ParseVersionString("1.0.0.10"), ParseVersionString("1.0.0.9"));
  EXPECT_GT(ParseVersionString("1.0.0.0"), ParseVersionString("8000.0.0.0"));
  EXPECT_GT(ParseVersionString("1.0.0.0"), ParseVersionString("9999.0.0.0"));
  EXPECT_GT(ParseVersionString("7999.0.0.0"), ParseVersionString("1.0.0.0"));
  EXPECT_LT(ParseVersionString("8000.0.0.0"), 0);
}

// Only the US English or the Japanese string table is read; a FileVersion longer than the
// buffer is no version at all.
TEST(GetFileVersionString, ReadsTheUsOrJapaneseTableOnly) {
  const struct {
    const char *file;
    const char *version;
  } cases[] = {
      {"v1_0_0_10.dll", "1.0.0.10"},
      {"v2_0_0_12a.dll", "2.0.0.12a"},
      {"japanese.dll", "2.0.0.1"},
      {"german.dll", ""},
      {"long.dll", ""},
      {"payload.txt", ""},
      {"v1_0_0_10.dll_", ""},
      {"missing.dll", ""},
  };
  for (const auto &c : cases) {
    // A buffer with room behind its capacity, to catch a write past it.
    char buffer[MAX_PATH + 64];
    FillBytes(buffer, sizeof buffer, 0xA5);
    char *returned = GetFileVersionString(Fixture(c.file).c_str(), buffer, MAX_PATH);
    EXPECT_EQ(returned, buffer);
    EXPECT_STREQ(buffer, c.version) << c.file;
    for (size_t i = MAX_PATH; i < sizeof buffer; ++i)
      ASSERT_EQ(static_cast<unsigned char>(buffer[i]), 0xA5) << c.file << ": written at " << i;
  }
}

const long long kBaseTime = 0x01D0000000000000ll; // a date in 2014

void SetWriteTime(const std::string &path, long long time) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(time);
  written.dwHighDateTime = static_cast<DWORD>(time >> 32);
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written)) << GetLastError();
  CloseHandle(file);
}

TEST(GetLastWriteTime, ReadsTheTimeOfAFileItCanHaveExclusively) {
  TempFolder folder;
  std::string path = folder / "file.dll";
  WriteFileBytes(path, "x");
  SetWriteTime(path, kBaseTime + 5);
  EXPECT_EQ(GetLastWriteTime(path.c_str()), kBaseTime + 5);
  EXPECT_EQ(GetLastWriteTime((folder / "missing.dll").c_str()), 0);

  HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(GetLastWriteTime(path.c_str()), 0) << "file held open by a reader";
  CloseHandle(reader);

  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    GTEST_SKIP() << "read-only files are writable here (Wine run as root): run via tests/wine-run";
  }
  EXPECT_EQ(GetLastWriteTime(path.c_str()), 0) << "read-only file";
}

} // namespace
