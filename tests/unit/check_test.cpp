// tolvanix-check: JSON quoting, usage, and the package traps the end-to-end packages leave out.
#include <string>
#include <vector>

#include "check/check.h"
#include "platform/text.h"
#include "testing.h"

namespace {

struct Result {
  int code;
  std::string all;
  std::vector<std::string> Findings() const {
    std::vector<std::string> found;
    size_t start = 0;
    for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2) {
      std::string line = all.substr(start, end - start);
      if (line.find("\"type\":\"finding\"") != std::string::npos)
        found.push_back(line);
    }
    return found;
  }
};

// Runs the program's whole command with its records going to a file.
Result RunCaptured(const std::string &args) {
  std::string out = TempPath() + "check-output.txt";
  Check.output = CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  Result result;
  result.code = RunCheck(args.c_str());
  CloseHandle(Check.output);
  Check.output = nullptr;
  ForceOverwrite = 0;
  result.all = ReadFileBytes(out);
  DeleteFileA(out.c_str());
  return result;
}

TEST(CheckOutput, JsonQuoteEscapesAndRefusesRatherThanCuts) {
  char buf[64];
  // ANSI text of the test's code page, 1252: each character as its Unicode code point.
  const char *expected = "\"C:\\\\pkg \\\"a\\\"\\u0009\\u0001\\u00e9\\u20ac\"";
  EXPECT_EQ(JsonQuote(buf, sizeof buf, "C:\\pkg \"a\"\t\x01\xE9\x80"), lstrlenA(expected)) << buf;
  EXPECT_STREQ(buf, expected);
  // "abcdef" quoted takes 8 characters and a terminator.
  EXPECT_EQ(JsonQuote(buf, 8, "abcdef"), -1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(JsonQuote(buf, 9, "abcdef"), 8);
  EXPECT_STREQ(buf, "\"abcdef\"");
}

TEST(CheckCommand, BadUsageExitsWithTwoAndTheUsageLine) {
  for (const char *args :
       {"", "bogus", "package a b", "--xml package", "package /FOW", "plan /OS=95"}) {
    Result r = RunCaptured(args);
    EXPECT_EQ(r.code, 2) << "args \"" << args << "\": " << r.all;
    EXPECT_EQ(r.all.find("usage: tolvanix-check package|plan|verify [FOLDER]"), 0u)
        << "args \"" << args << "\": " << r.all;
  }
  Result missing = RunCaptured("package C:\\no\\such\\folder --json");
  EXPECT_EQ(missing.code, 2) << missing.all;
  EXPECT_NE(missing.all.find("the package folder does not exist"), std::string::npos);
}

// A clean sample package with one trap laid in it: exactly one finding, and the exit code of
// its level.
TEST(CheckPackage, EachTrapGivesExactlyOneFinding) {
  const struct {
    const char *what;
    const char *ini;     // tolvanix.ini
    const char *removed; // a package file removed
    const char *level;   // of the one finding
    const char *message; // part of its message
  } traps[] = {
      {"empty SRC", "[KVSPLPROC]\r\nSRC=\r\n0=kvhelper.dll\r\n", nullptr, "error",
       "replaced from the package folder itself"},
      {"not a program", "[tolvanix]\r\n[PRINTPROC]\r\n0=print.dll\r\n1=notes.txt\r\n", nullptr,
       "warning", "not a Windows program"},
      {"no ini", "", "tolvanix.ini", "error", "missing: the patcher reads"},
  };
  for (const auto &t : traps) {
    SCOPED_TRACE(t.what);
    TempFolder folder;
    MakeFolder(folder / "modules");
    for (const char *tag : {"NT", "2K"}) {
      std::string modules = folder / (std::string("modules\\") + tag + "\\");
      MakeFolder(modules);
      std::string dll = TestFile(tag[0] == 'N' ? "v1_0_0_10.dll" : "v1_0_0_10.dll_");
      for (const char *name : {"print.dll", "helper.dll", "system.dll"})
        ASSERT_TRUE(CopyFileA(dll.c_str(), (modules + name).c_str(), FALSE)) << GetLastError();
      WriteFileBytes(modules + "notes.txt", "plain text");
    }
    CopyFileA(TestFile("v1_0_0_10.dll").c_str(), (folder / "modules\\NT\\notes.txt").c_str(),
              FALSE);
    CopyFileA(TestFile("standin.dll").c_str(), (folder / "kvprc7a.dll").c_str(), FALSE);
    WriteFileBytes(folder / "tolvanix.ini", t.ini);
    if (t.removed)
      DeleteFileA((folder / t.removed).c_str());

    Result r = RunCaptured("package \"" + folder.path() + "\" --json");
    std::vector<std::string> findings = r.Findings();
    ASSERT_EQ(findings.size(), 1u) << r.all;
    EXPECT_NE(findings[0].find(std::string("\"level\":\"") + t.level + "\""), std::string::npos)
        << findings[0];
    EXPECT_NE(findings[0].find(t.message), std::string::npos) << findings[0];
    EXPECT_EQ(r.code, std::string(t.level) == "error" ? 2 : 1) << r.all;
  }
}

} // namespace
